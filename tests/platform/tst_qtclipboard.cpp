#include "../support/FakeOneNote.h"

#include "onenote/ClipFun.h"
#include "platform/QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include <gtest/gtest.h>

using namespace Cogitra;

// Discovery empties the clipboard for OneNote's answer and then puts every format of the user's
// clipboard back. An image copied inside this process is held
// by Qt as a picture with no bytes under its format; it must still be there to paste.
TEST(QtClipboard, DiscoveryPutsTheUsersClipboardBack)
{
    QImage image(7, 5, QImage::Format_ARGB32);
    image.fill(QColor(20, 110, 210));
    image.setPixelColor(3, 2, QColor(250, 60, 40, 128));
    auto *data = new QMimeData;
    data->setImageData(image);
    data->setHtml(QStringLiteral("<b>the user's text</b>"));
    data->setText(QStringLiteral("the user's text"));
    data->setData(QStringLiteral("application/x-cogitra-test"), QByteArray("\0\1\2", 3));
    QGuiApplication::clipboard()->setMimeData(data);

    QtClipboard clipboard;
    Cogitra::Test::FakeOneNote oneNote(clipboard);
    oneNote.answer = ClipboardContents{
        {{"text/plain", "onenote:https://d.docs.live.net/c/B/S.one#T&page-id={P}"}}};
    EXPECT_TRUE(CopyCurrentPageLink(oneNote, clipboard).has_value());
    EXPECT_TRUE(oneNote.clipboardAtKeystroke.isEmpty());

    const QMimeData *after = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(qvariant_cast<QImage>(after->imageData()).convertToFormat(image.format()), image);
    EXPECT_EQ(after->text(), QStringLiteral("the user's text"));
    EXPECT_EQ(after->html(), QStringLiteral("<b>the user's text</b>"));
    EXPECT_EQ(after->data(QStringLiteral("application/x-cogitra-test")), QByteArray("\0\1\2", 3));
}

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
