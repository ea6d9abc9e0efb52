// The macOS bundle's configured Info.plist and entitlements, read back on every system.
#include "../support/TestFiles.h"

#include "util/MConfig.h"

#include <gtest/gtest.h>

using namespace Cogitra;
using namespace Cogitra::Testing;

TEST(BundleInfo, NamesTheBundleItsVersionAndWhyItAsksOneNote)
{
    const MConfig info(QStringLiteral(COGITRA_INFO_PLIST));
    ASSERT_TRUE(info.hasDictionary());
    const QList<QPair<const char *, QVariant>> values = {
        {"CFBundleName", "Cogitra"},
        {"CFBundleExecutable", "Cogitra"},
        {"CFBundleIdentifier", "com.ardentis.Cogitra"},
        {"CFBundlePackageType", "APPL"},
        {"CFBundleIconFile", "Cogitra.icns"}, // the icon the build makes
        {"CFBundleShortVersionString", COGITRA_VERSION},
        {"CFBundleVersion", COGITRA_VERSION},
        {"LSMinimumSystemVersion", COGITRA_OSX_DEPLOYMENT_TARGET}, // the system the build targets
        {"NSHighResolutionCapable", true},
    };
    for (const auto &[key, value] : values)
        EXPECT_EQ(info.ReadValueDefStr(key, QVariant()), value) << key;
    EXPECT_TRUE(
        info.ReadValueDefStr("NSAppleEventsUsageDescription", {}).toString().contains("OneNote"))
        << "without it macOS refuses page discovery's Apple Events";
    EXPECT_FALSE(ReadBytes(QStringLiteral(COGITRA_INFO_PLIST)).contains("<string></string>"))
        << "a variable the template names but the build does not set";

    const MConfig entitlements(QStringLiteral(COGITRA_ENTITLEMENTS));
    EXPECT_EQ(entitlements.ReadValueDefStr("com.apple.security.automation.apple-events", {}),
              QVariant(true))
        << "Apple Events under the hardened runtime";
}
