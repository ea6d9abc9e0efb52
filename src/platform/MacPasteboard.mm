#include "MacPasteboard.h"

#import <AppKit/AppKit.h>

// Only autoreleased objects are made here, so the file is right with and without ARC; each
// call drains its own pool, as a command-line tool has no run loop to do it.
namespace Cogitra {

ClipboardContents MacPasteboard::contents() const
{
    ClipboardContents contents;
    @autoreleasepool {
        NSPasteboard *pasteboard = NSPasteboard.generalPasteboard;
        for (NSPasteboardType type in pasteboard.types) {
            // A promise its owner no longer keeps reads as nil: there is nothing to put back.
            NSData *data = [pasteboard dataForType:type];
            if (data != nil)
                contents.formats.append(
                    {QString::fromNSString(type), QByteArray::fromNSData(data)});
        }
    }
    return contents;
}

void MacPasteboard::setContents(const ClipboardContents &contents)
{
    @autoreleasepool {
        NSPasteboard *pasteboard = NSPasteboard.generalPasteboard;
        if (contents.isEmpty()) {
            [pasteboard clearContents];
            return;
        }
        NSMutableArray<NSPasteboardType> *types =
            [NSMutableArray arrayWithCapacity:NSUInteger(contents.formats.size())];
        for (const auto &format : contents.formats)
            [types addObject:format.first.toNSString()];
        // Every type is declared before its data is set, as setData:forType: requires.
        [pasteboard declareTypes:types owner:nil];
        for (const auto &[format, bytes] : contents.formats)
            [pasteboard setData:bytes.toNSData() forType:format.toNSString()];
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
        [pasteboard declareTypes:@[ NSPasteboardTypeString ] owner:nil];
        [pasteboard setString:text.toNSString() forType:NSPasteboardTypeString];
    }
}

} // namespace Cogitra
