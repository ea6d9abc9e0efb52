#include "onenote/ClipFun.h"
#include "platform/IDesktopAutomation.h"
#include "platform/QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <gtest/gtest.h>

using namespace Cogitra;

namespace {

class AnsweringOneNote final : public IDesktopAutomation
{
public:
    explicit AnsweringOneNote(IClipboard &clipboard)
        : m_Clipboard(clipboard)
    {}
    void RunAppleScript(const QString &) override
    {
        sawEmptyClipboard = m_Clipboard.contents().isEmpty();
        m_Clipboard.setText(
            QStringLiteral("onenote:https://d.docs.live.net/c/B/S.one#T&page-id={P}"));
    }
    bool sawEmptyClipboard = false;

private:
    IClipboard &m_Clipboard;
};

} // namespace

TEST(QtClipboard, DiscoveryPutsEveryFormatOfTheUsersClipboardBack)
{
    auto *data = new QMimeData;
    data->setText(QStringLiteral("the user's text"));
    data->setHtml(QStringLiteral("<b>the user's text</b>"));
    data->setData(QStringLiteral("application/x-cogitra-test"), QByteArray("\0\1\2", 3));
    QGuiApplication::clipboard()->setMimeData(data);

    QtClipboard clipboard;
    const ClipboardContents before = clipboard.contents();
    ASSERT_GE(before.formats.size(), 3);

    AnsweringOneNote oneNote(clipboard);
    EXPECT_EQ(CopyCurrentPageLink(oneNote, clipboard),
              QStringLiteral("onenote:https://d.docs.live.net/c/B/S.one#T&page-id={P}"));
    EXPECT_TRUE(oneNote.sawEmptyClipboard);

    const QMimeData *after = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(after->text(), QStringLiteral("the user's text"));
    EXPECT_EQ(after->html(), QStringLiteral("<b>the user's text</b>"));
    EXPECT_EQ(after->data(QStringLiteral("application/x-cogitra-test")), QByteArray("\0\1\2", 3));
    EXPECT_EQ(clipboard.contents(), before);
}

TEST(QtClipboard, TextAndClear)
{
    QtClipboard clipboard;
    clipboard.setText(QString::fromUtf8("zwölf"));
    EXPECT_EQ(clipboard.text(), QString::fromUtf8("zwölf"));
    clipboard.clear();
    EXPECT_FALSE(clipboard.text().has_value());
    clipboard.setContents({{{"image/png", "PNG"}}});
    EXPECT_FALSE(clipboard.text().has_value());
    clipboard.setContents({});
    EXPECT_TRUE(clipboard.contents().isEmpty());
}

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
