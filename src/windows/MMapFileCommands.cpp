#include "MMapFileCommands.h"

#include "app/AppDelegate.h"
#include "app/IEditorPage.h"
#include "app/MMapConverter.h"
#include "util/MLimits.h"
#include "util/MStrings.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSaveFile>
#include <QStandardPaths>

namespace Cogitra {

namespace {

QString Text(const char *key)
{
    return LocalizedString(QString::fromLatin1(key));
}

// The export formats, as the dialog offers them; the picture formats come from the page.
struct ExportFilter
{
    const char *key;
    const char *suffix;
};
constexpr ExportFilter kExportFilters[] = {
    {"strExportPng", "png"},   {"strExportSvg", "svg"},     {"strExportMarkdown", "md"},
    {"strExportOpml", "opml"}, {"strExportFreeMind", "mm"}, {"strExportJson", "json"},
    {"strExportText", "txt"},
};

QString FilterText(const ExportFilter &filter)
{
    return QStringLiteral("%1 (*.%2)").arg(Text(filter.key), QLatin1String(filter.suffix));
}

// Not the folder the program happened to start in.
QString StartFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

bool IsPicture(const QString &suffix)
{
    return suffix == u"png" || suffix == u"svg";
}

} // namespace

MMapFileCommands::MMapFileCommands(QWidget *window, IEditorPage &editor, AppDelegate &delegate)
    : QObject(window)
    , m_Window(window)
    , m_Editor(editor)
    , m_Delegate(delegate)
{}

QString MMapFileCommands::ChooseFile(bool save)
{
    if (m_Chooser)
        return m_Chooser(save);
    // Qt's own dialog: the application's timer sees it as a modal window and waits.
    const auto options = QFileDialog::DontUseNativeDialog;
    if (!save) {
        return QFileDialog::getOpenFileName(
            m_Window, Text("menuItemImport"), StartFolder(),
            QStringLiteral("%1 (*.md *.markdown *.opml *.mm *.txt *.json)")
                .arg(Text("strImportFilter")),
            nullptr, options);
    }
    QStringList filters;
    for (const ExportFilter &filter : kExportFilters)
        filters << FilterText(filter);
    QString chosen = filters.first();
    QString path
        = QFileDialog::getSaveFileName(m_Window, Text("menuItemExport"), QString(),
                                       filters.join(QStringLiteral(";;")), &chosen, options);
    // A name without a suffix takes the chosen kind's.
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty()) {
        for (const ExportFilter &filter : kExportFilters) {
            if (FilterText(filter) == chosen)
                path += u'.' + QLatin1String(filter.suffix);
        }
    }
    return path;
}

void MMapFileCommands::Fail(const QString &text)
{
    QMessageBox box(QMessageBox::Warning, Text("appName"), text, QMessageBox::Ok, m_Window);
    box.setObjectName(QStringLiteral("mapFileError"));
    box.exec();
}

void MMapFileCommands::importMap()
{
    const QString path = ChooseFile(false);
    if (!path.isEmpty())
        importFile(path);
}

void MMapFileCommands::exportMap()
{
    const QString path = ChooseFile(true);
    if (!path.isEmpty())
        exportFile(path);
}

void MMapFileCommands::importFile(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Fail(Text("strImportFailed").arg(name, file.errorString()));
    // One byte more than a map may be tells the converter that it is too large.
    const QByteArray bytes = file.read(kMaxMapBytes + 1);
    // Outlines come as .txt and under any other name too.
    const MapFormat format = MapFormatOfFile(path).value_or(MapFormat::Text);
    const MapConversion map = MMapConverter::convert(format, MapFormat::Json, bytes,
                                                     QFileInfo(path).completeBaseName());
    if (!map.ok())
        return Fail(Text("strImportFailed").arg(name, map.error));
    m_Delegate.ImportMap(QString::fromUtf8(map.bytes));
}

void MMapFileCommands::exportFile(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (IsPicture(suffix)) {
        m_PicturePath = path;
        m_Editor.evaluate(QStringLiteral("ExportPicture('%1')").arg(suffix));
        return;
    }
    const std::optional<MapFormat> format = MapFormatNamed(suffix);
    m_Editor.evaluate(QStringLiteral("ExportJson()"), [this, path, format](const QVariant &json) {
        const QByteArray bytes = json.toString().toUtf8();
        if (!format || *format == MapFormat::Json)
            return Written(path, bytes);
        const MapConversion converted = MMapConverter::convert(MapFormat::Json, *format, bytes, {});
        Written(path, converted.ok() ? converted.bytes : QByteArray());
    });
}

void MMapFileCommands::pictureExported()
{
    if (m_PicturePath.isEmpty())
        return;
    const QString path = std::exchange(m_PicturePath, QString());
    m_Editor.evaluate(QStringLiteral("String(window.g_ZetExportResult ?? '')"),
                      [this, path](const QVariant &result) {
                          const QString text = result.toString();
                          const QString pngPrefix = QStringLiteral("data:image/png;base64,");
                          if (path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive))
                              return Written(path, text.toUtf8());
                          Written(path, text.startsWith(pngPrefix) ? QByteArray::fromBase64(
                                            text.mid(pngPrefix.size()).toLatin1())
                                                                   : QByteArray());
                      });
}

void MMapFileCommands::Written(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    const bool written = !bytes.isEmpty() && file.open(QIODevice::WriteOnly)
                         && file.write(bytes) == bytes.size() && file.commit();
    if (!written)
        Fail(Text("strExportFailed").arg(QFileInfo(path).fileName()));
}

} // namespace Cogitra
