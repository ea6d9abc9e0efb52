#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QWidget;

namespace Cogitra {

class AppDelegate;
class IEditorPage;

// File > Import… and File > Export…: maps and outlines in files, read and written by the
// core's converter; PNG and SVG pictures made by the editor page itself.
class MMapFileCommands : public QObject
{
    Q_OBJECT
public:
    // Asks for a file: to open (save false) or to write; the empty text when given up on.
    using FileChooser = std::function<QString(bool save)>;

    MMapFileCommands(QWidget *window, IEditorPage &editor, AppDelegate &delegate);

    void setFileChooser(FileChooser chooser) { m_Chooser = std::move(chooser); }

    void importMap();
    void exportMap();
    void importFile(const QString &path);
    void exportFile(const QString &path);
    // The page's JsCall("Exported"): the picture asked for is ready.
    void pictureExported();

private:
    QString ChooseFile(bool save);
    void Fail(const QString &text);
    void Written(const QString &path, const QByteArray &bytes);

    QWidget *m_Window;
    IEditorPage &m_Editor;
    AppDelegate &m_Delegate;
    FileChooser m_Chooser;
    QString m_PicturePath; // the picture export waiting for the page
};

} // namespace Cogitra
