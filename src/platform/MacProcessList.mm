#include "MacProcessList.h"

#import <AppKit/AppKit.h>

namespace Cogitra {

QStringList MacProcessList::processNames() const
{
    QStringList names;
    @autoreleasepool {
        for (NSRunningApplication *application in NSWorkspace.sharedWorkspace.runningApplications) {
            NSURL *bundleUrl = application.bundleURL;
            if (bundleUrl == nil)
                continue;
            NSBundle *bundle = [NSBundle bundleWithURL:bundleUrl];
            id name = [bundle objectForInfoDictionaryKey:(__bridge NSString *)kCFBundleNameKey];
            if ([name isKindOfClass:NSString.class])
                names.append(QString::fromNSString(name));
        }
    }
    return names;
}

} // namespace Cogitra
