// The player window's boxes and what the user hands it: message boxes, the text box,
// the Open dialog, dropped files, and the context menu with its keys.
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QThread>
#include <QUrl>

#include "hosts/qt/QtPlayerWindow.h"
#include "hosts/qt/QtText.h"
#include "res/DialogTemplates.h"
#include "res/Strings.h"

namespace tunlet {

void QtPlayerWindow::EndSession() {
    dlg_.OnEndSession();
    // Each box returns once the event loop is back in it; the window's own run ends after.
    for (QDialog* box : findChildren<QDialog*>()) {
        if (box->isVisible()) box->reject();
    }
    reject();
}

void QtPlayerWindow::ShowBox(const QString& text, const QString& caption, BoxIcon icon) {
    if (dlg_.Ending()) return;  // a worker's box that was on its way: nobody is there to read it
    QMessageBox box(icon == BoxIcon::Warning ? QMessageBox::Warning : QMessageBox::Critical, caption, text,
                    QMessageBox::Ok, this);
    box.exec();
}

void QtPlayerWindow::MessageBox(const std::string& text, const std::string& caption, BoxIcon icon) {
    if (QThread::currentThread() == thread()) {
        ShowBox(DisplayText(text), DisplayText(caption.empty() ? res::kAppName : caption), icon);
    } else {
        // The worker waits here until the box on the UI thread has been dismissed.
        RunOnUiThreadAndWait(*this, [this, text, caption, icon] { MessageBox(text, caption, icon); });
    }
}

void QtPlayerWindow::ShowText(const std::string& caption, const std::string& text) {
    QtTemplateDialog box(*res::FindDialogTemplate(res::kIddTextBox), this);
    box.setWindowTitle(DisplayText(caption));
    auto* edit = static_cast<QPlainTextEdit*>(box.Control(kIdTextBox));
    edit->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    edit->setPlainText(DisplayText(text));
    box.exec();
}

int QtPlayerWindow::ChooseEntry(const std::string& caption, const std::string& prompt,
                                const std::vector<std::string>& entries, int current) {
    QtTemplateDialog box(*res::FindDialogTemplate(res::kIddChoice), this);
    box.setWindowTitle(DisplayText(caption));
    static_cast<QLabel*>(box.Control(kIdChoicePrompt))->setText(DisplayText(prompt));
    auto* list = static_cast<QListWidget*>(box.Control(kIdChoiceList));
    for (const std::string& e : entries) list->addItem(DisplayText(e));
    list->setCurrentRow(current);
    list->setFocus();
    connect(list, &QListWidget::itemDoubleClicked, &box, &QDialog::accept);
    if (box.exec() != QDialog::Accepted) return -1;
    return list->currentRow();
}

bool QtPlayerWindow::ChooseFile(const std::string& folder, std::string& path) {
    // The patterns in both cases: the file system's own matching may heed case.
    const QString patterns = QString::fromUtf8(kOpenPatterns);
    QFileDialog dialog(this, QString::fromUtf8(kOpenTitle), DisplayText(folder),
                       QString::fromUtf8(kOpenFilterName) + " (" + patterns + " " + patterns.toUpper() +
                           ");;All files (*)");
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    path = QFile::encodeName(dialog.selectedFiles().front()).toStdString();
    return true;
}

bool QtPlayerWindow::ChooseFirmware(const std::string& folder, std::string& path) {
    QFileDialog dialog(this, QStringLiteral("USB-Blaster II firmware"), DisplayText(folder),
                       QStringLiteral("Intel HEX (*.hex *.HEX);;All files (*)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    path = QFile::encodeName(dialog.selectedFiles().front()).toStdString();
    return true;
}

void QtPlayerWindow::SetCableText(const std::string& text) {
    const QString name = QString::fromUtf8(res::FindDialogTemplate(res::kIddPlayerDialog)->caption);
    setWindowTitle(text.empty() ? name : name + QStringLiteral(" \u2013 ") + DisplayText(text));
}

void QtPlayerWindow::DragAcceptFiles(bool accept) { setAcceptDrops(accept); }

bool QtPlayerWindow::AppendSystemMenu(int command, const std::string& text) {
    // The desktop gives the program no system menu: the entries go to the context menu.
    menu_.emplace_back(command, DisplayText(text));
    return true;
}

void QtPlayerWindow::CheckSystemMenu(int command, bool checked) { ticked_[command] = checked; }

std::vector<std::string> QtPlayerWindow::LocalPaths(const QList<QUrl>& urls) {
    std::vector<std::string> paths;
    for (const QUrl& url : urls) {
        if (url.isLocalFile()) paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    }
    return paths;
}

void QtPlayerWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && !LocalPaths(event->mimeData()->urls()).empty()) {
        event->acceptProposedAction();
    }
}

void QtPlayerWindow::dropEvent(QDropEvent* event) {
    const std::vector<std::string> paths = LocalPaths(event->mimeData()->urls());
    if (paths.empty()) return;
    event->acceptProposedAction();
    dlg_.OnDropFiles(paths);
}

void QtPlayerWindow::FillMenu(QMenu& menu) {
    for (const auto& [command, text] : menu_) {
        if (command == 0) {
            menu.addSeparator();
            continue;
        }
        // The shortcut after a tab shows at the right of the entry.
        QAction* action = menu.addAction(text.section(QLatin1Char('\t'), 0, 0));
        if (text.contains(QLatin1Char('\t'))) action->setShortcut(QKeySequence(text.section(QLatin1Char('\t'), 1)));
        action->setShortcutContext(Qt::WidgetShortcut);  // the window's own shortcut acts
        const unsigned id = static_cast<unsigned>(command);
        if (const auto tick = ticked_.find(command); tick != ticked_.end()) {  // an entry with a tick
            action->setCheckable(true);
            action->setChecked(tick->second);
        }
        connect(action, &QAction::triggered, this, [this, id] { dlg_.OnSysCommand(id); });
    }
}

void QtPlayerWindow::contextMenuEvent(QContextMenuEvent* event) {
    if (menu_.empty()) return;
    QMenu menu(this);
    FillMenu(menu);
    menu.exec(event->globalPos());
}

void QtPlayerWindow::ShowMenuAtFocus() {
    if (menu_.empty()) return;
    QWidget* focus = focusWidget() != nullptr ? focusWidget() : this;
    QMenu menu(this);
    FillMenu(menu);
    menu.exec(focus->mapToGlobal(focus->rect().center()));
}

}  // namespace tunlet
