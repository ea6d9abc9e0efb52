// The question a save asks when the page holds a map this editor has not seen: its texts, and
// the answer each of its buttons and the Escape key give.
#include "GuiTestSupport.h"

#include "util/MGlobals.h"
#include "util/MStrings.h"
#include "windows/MAppController.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTemporaryDir>

#include <memory>

using namespace Cogitra;
using namespace Cogitra::Test;

Q_DECLARE_METATYPE(Cogitra::UnseenMapAnswer)

class UnseenQuestion : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_Dir.isValid());
        SetLanguage(QStringLiteral("en"));
        MAppController::Options options;
        options.dataRoot = m_Dir.path();
        options.onTerminate = [] {
        };
        m_App = std::make_unique<MAppController>(options);
    }

    void cleanupTestCase()
    {
        m_App.reset();
        ResetGlobalsForTesting();
    }

    void eachWayOutAnswers_data()
    {
        QTest::addColumn<QString>("button"); // empty: the Escape key
        QTest::addColumn<UnseenMapAnswer>("answer");
        QTest::newRow("Replace") << QStringLiteral("replace") << UnseenMapAnswer::Replace;
        QTest::newRow("Open the page's map")
            << QStringLiteral("openPagesMap") << UnseenMapAnswer::OpenPagesMap;
        QTest::newRow("Cancel") << QStringLiteral("cancel") << UnseenMapAnswer::Cancel;
        QTest::newRow("Escape") << QString() << UnseenMapAnswer::Cancel;
    }

    void eachWayOutAnswers()
    {
        QFETCH(QString, button);
        QFETCH(UnseenMapAnswer, answer);
        const QString question = LocalizedString(QStringLiteral("errMapNotSeen"));
        QStringList labels;
        QString text;
        bool modalWhileAsked = false;
        OnNextModal([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            if (!box)
                return;
            modalWhileAsked = m_App->isModalActive();
            text = box->text();
            for (QAbstractButton *each : box->buttons())
                labels.append(each->text());
            if (button == u"replace")
                Screenshot(QStringLiteral("unseen-map-question"));
            if (button.isEmpty())
                QTest::keyClick(box, Qt::Key_Escape);
            else
                box->findChild<QAbstractButton *>(button)->click();
        });
        QCOMPARE(m_App->askUnseenMap(question), answer);
        QCOMPARE(text, question);
        labels.sort();
        QStringList expected{LocalizedString(QStringLiteral("strCancel")),
                             LocalizedString(QStringLiteral("strOpenPageMap")),
                             LocalizedString(QStringLiteral("strReplaceMap"))};
        expected.sort();
        QCOMPARE(labels, expected);
        QVERIFY(modalWhileAsked);
    }

private:
    QTemporaryDir m_Dir;
    std::unique_ptr<MAppController> m_App;
};

COGITRA_GUI_TEST_MAIN(UnseenQuestion)
#include "tst_unseenquestion.moc"
