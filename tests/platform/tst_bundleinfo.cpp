// The macOS bundle's Info.plist, configured from the repo's template with the values the
// bundle build uses, and the signing entitlements: read back with libplist, so that a
// broken template or a lost key shows on every system, not first on a user's Mac.
#include "../support/TestFiles.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <memory>
#include <string>

using namespace Cogitra::Testing;

namespace {

struct PlistFree
{
    void operator()(plist_t node) const { plist_free(node); }
};
using Plist = std::unique_ptr<void, PlistFree>;

Plist ReadPlist(const char *path)
{
    const QByteArray xml = ReadBytes(QString::fromUtf8(path));
    plist_t root = nullptr;
    plist_from_xml(xml.constData(), static_cast<uint32_t>(xml.size()), &root);
    return Plist(root);
}

std::string StringAt(const Plist &dict, const char *key)
{
    const plist_t node = plist_dict_get_item(dict.get(), key);
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return "(not a string)";
    char *value = nullptr;
    plist_get_string_val(node, &value);
    std::string text(value ? value : "");
    free(value);
    return text;
}

bool IsTrue(const Plist &dict, const char *key)
{
    const plist_t node = plist_dict_get_item(dict.get(), key);
    uint8_t value = 0;
    if (node && plist_get_node_type(node) == PLIST_BOOLEAN)
        plist_get_bool_val(node, &value);
    return value != 0;
}

} // namespace

TEST(BundleInfo, NamesTheBundleItsVersionAndWhyItAsksOneNote)
{
    const Plist info = ReadPlist(COGITRA_INFO_PLIST);
    ASSERT_TRUE(info && plist_get_node_type(info.get()) == PLIST_DICT);
    EXPECT_EQ(StringAt(info, "CFBundleName"), "Cogitra");
    EXPECT_EQ(StringAt(info, "CFBundleExecutable"), "Cogitra");
    EXPECT_EQ(StringAt(info, "CFBundleIdentifier"), "com.ardentis.Cogitra");
    EXPECT_EQ(StringAt(info, "CFBundlePackageType"), "APPL");
    EXPECT_EQ(StringAt(info, "CFBundleIconFile"), "Cogitra.icns") << "the icon the build makes";
    EXPECT_EQ(StringAt(info, "CFBundleShortVersionString"), COGITRA_VERSION);
    EXPECT_EQ(StringAt(info, "CFBundleVersion"), COGITRA_VERSION);
    EXPECT_EQ(StringAt(info, "LSMinimumSystemVersion"), COGITRA_OSX_DEPLOYMENT_TARGET)
        << "the system the build targets";
    EXPECT_NE(StringAt(info, "NSAppleEventsUsageDescription").find("OneNote"), std::string::npos)
        << "without it macOS refuses page discovery's Apple Events";
    EXPECT_TRUE(IsTrue(info, "NSHighResolutionCapable"));

    // A variable the template names but the build does not set comes out empty.
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(info.get(), &it);
    for (;;) {
        char *key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(info.get(), it, &key, &value);
        if (!key)
            break;
        if (plist_get_node_type(value) == PLIST_STRING) {
            EXPECT_NE(StringAt(info, key), "") << key;
        }
        free(key);
    }
    free(it);
}

TEST(BundleInfo, EntitlementsAllowAppleEventsUnderTheHardenedRuntime)
{
    const Plist entitlements = ReadPlist(COGITRA_ENTITLEMENTS);
    ASSERT_TRUE(entitlements && plist_get_node_type(entitlements.get()) == PLIST_DICT);
    EXPECT_TRUE(IsTrue(entitlements, "com.apple.security.automation.apple-events"));
}
