#include "MacPasteboard.h"

#import <AppKit/AppKit.h>

// Each call drains a pool of its own: a command-line tool has no run loop to do it.
namespace Cogitra {

namespace {

NSPasteboardItem *NewItem()
{
    NSPasteboardItem *item = [[NSPasteboardItem alloc] init];
#if !__has_feature(objc_arc)
    [item autorelease];
#endif
    return item;
}

} // namespace

ClipboardContents MacPasteboard::contents() const
{
    ClipboardContents contents;
    @autoreleasepool {
        for (NSPasteboardItem *item in NSPasteboard.generalPasteboard.pasteboardItems) {
            if (!contents.isEmpty())
                contents.formats.append({QString(), QByteArray()});
            for (NSPasteboardType type in item.types) {
                // A promise its owner no longer keeps reads as nil: there is nothing to put back.
                NSData *data = [item dataForType:type];
                if (data != nil)
                    contents.formats.append(
                        {QString::fromNSString(type), QByteArray::fromNSData(data)});
            }
        }
    }
    return contents;
}

void MacPasteboard::setContents(const ClipboardContents &contents)
{
    @autoreleasepool {
        NSMutableArray<NSPasteboardItem *> *items = [NSMutableArray array];
        NSPasteboardItem *item = nil;
        for (const auto &[format, bytes] : contents.formats) {
            if (format.isEmpty()) {
                item = nil;
                continue;
            }
            if (item == nil) {
                item = NewItem();
                [items addObject:item];
            }
            [item setData:bytes.toNSData() forType:format.toNSString()];
        }
        NSPasteboard *pasteboard = NSPasteboard.generalPasteboard;
        [pasteboard clearContents];
        if (items.count > 0)
            [pasteboard writeObjects:items];
    }
}

void MacPasteboard::clear()
{
    @autoreleasepool {
        [NSPasteboard.generalPasteboard clearContents];
    }
}

std::optional<QString> MacPasteboard::text() const
{
    @autoreleasepool {
        NSString *text = [NSPasteboard.generalPasteboard stringForType:NSPasteboardTypeString];
        if (text == nil)
            return std::nullopt;
        return QString::fromNSString(text);
    }
}

void MacPasteboard::setText(const QString &text)
{
    @autoreleasepool {
        NSPasteboard *pasteboard = NSPasteboard.generalPasteboard;
        [pasteboard clearContents];
        [pasteboard setString:text.toNSString() forType:NSPasteboardTypeString];
    }
}

} // namespace Cogitra
