#pragma once

#include "RecordingAlert.h"
#include "online/MCurlHandle.h"
#include "util/MConfig.h"
#include "util/MGlobals.h"
#include "util/MStrings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTcpServer>
#include <QTimer>
#include <QWebEnginePage>
#include <QtTest>

#include <functional>

// Waiting without fixed sleeps, answering modal windows from a timer, screenshots.
namespace Cogitra::Test {

inline QString Text(const char *key)
{
    return LocalizedString(QString::fromLatin1(key));
}

inline bool WaitUntil(const std::function<bool()> &condition, int timeoutMs = 15000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

// Calls handler with the next modal widget (and keeps watching until it came once).
inline void OnNextModal(const std::function<void(QWidget *)> &handler, int timeoutMs = 20000)
{
    auto *timer = new QTimer(qApp);
    auto *clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, qApp, [timer, clock, handler, timeoutMs] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal && clock->elapsed() < timeoutMs)
            return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        if (modal)
            handler(modal);
    });
    timer->start();
}

// A loopback port on which nothing answers.
inline quint16 ClosedPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 9;
}

inline QVariant RunJs(QWebEnginePage *page, const QString &script)
{
    QVariant result;
    QEventLoop loop;
    page->runJavaScript(script, [&](const QVariant &value) {
        result = value;
        loop.quit();
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    return result;
}

// Under Xvfb with COGITRA_SCREENSHOT_DIR set: the whole screen as name.png.
inline void Screenshot(const QString &name)
{
    const QString dir = qEnvironmentVariable("COGITRA_SCREENSHOT_DIR");
    if (dir.isEmpty() || QGuiApplication::platformName() != u"xcb")
        return;
    // The web engine paints a moment after the page is ready.
    QTest::qWait(1500);
    QDir().mkpath(dir);
    QGuiApplication::primaryScreen()->grabWindow(0).save(QDir(dir).filePath(name + u".png"));
}

// The configuration file, read and written (at path before the program has started).
inline QString Stored(const QString &key)
{
    return MConfig(g_ConfigFile.get()).ReadValueDefStr(key, QString()).toString();
}
inline void Store(const QList<QPair<QString, QString>> &values, QString path = {})
{
    MConfig config(path.isEmpty() ? g_ConfigFile.get() : path);
    for (const auto &[key, value] : values)
        config.WriteValueStr(key, value);
    QVERIFY(config.Save());
}

} // namespace Cogitra::Test

#define COGITRA_GUI_TEST_MAIN(TestClass)                                                           \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        Cogitra::InitNetworking();                                                                 \
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);                                \
        QStandardPaths::setTestModeEnabled(true);                                                  \
        QApplication app(argc, argv);                                                              \
        QApplication::setApplicationName(QStringLiteral("Cogitra"));                               \
        QApplication::setApplicationVersion(QStringLiteral("1.0.0"));                              \
        QApplication::setQuitOnLastWindowClosed(false);                                            \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
