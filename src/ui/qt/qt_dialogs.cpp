#include "ui/qt/qt_dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QMessageBox>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

#include "base/messages.h"
#include "ui/control.h"
#include "ui/form.h"
#include "ui/qt/bindings.h"

namespace zrx::qt {

QtDialogs::~QtDialogs() { delete m_help; }

ui::Answer QtDialogs::ShowMessage(const ui::MessageBox& box) {
    QMessageBox message(m_owner);
    message.setWindowTitle(ToQt(box.title));
    message.setText(ToQt(box.text).replace("\r\n", "\n"));
    switch (box.icon) {
        case ui::Icon::Warning: message.setIcon(QMessageBox::Warning); break;
        case ui::Icon::Critical: message.setIcon(QMessageBox::Critical); break;
        case ui::Icon::Question: message.setIcon(QMessageBox::Question); break;
        case ui::Icon::Information: message.setIcon(QMessageBox::Information); break;
        case ui::Icon::None: break;
    }
    switch (box.buttons) {
        case ui::Buttons::Ok: message.setStandardButtons(QMessageBox::Ok); break;
        case ui::Buttons::YesNo:
            message.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            message.setDefaultButton(QMessageBox::Yes);
            break;
        case ui::Buttons::AbortRetryIgnore:
            message.setStandardButtons(QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore);
            message.setDefaultButton(QMessageBox::Abort);
            break;
    }
    message.setWindowModality(box.systemModal ? Qt::ApplicationModal : Qt::WindowModal);
    // A box that waits for the user shows the normal pointer, whatever the run behind it shows.
    if (m_busyDepth > 0) QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int result = message.exec();
    if (m_busyDepth > 0) QApplication::restoreOverrideCursor();
    switch (result) {
        case QMessageBox::Yes: return ui::Answer::Yes;
        case QMessageBox::No: return ui::Answer::No;
        case QMessageBox::Abort: return ui::Answer::Abort;
        case QMessageBox::Retry: return ui::Answer::Retry;
        case QMessageBox::Ignore: return ui::Answer::Ignore;
        default:
            if (box.buttons == ui::Buttons::YesNo) return ui::Answer::No;
            if (box.buttons == ui::Buttons::AbortRetryIgnore) return ui::Answer::Abort;
            return ui::Answer::Ok;
    }
}

std::optional<std::string> QtDialogs::AskPassword(const std::string& prompt) {
    bool ok = false;
    const QString password = QInputDialog::getText(m_owner, ToQt(std::string(kAppTitle)),
                                                   ToQt(prompt), QLineEdit::Password, QString(), &ok);
    if (!ok) return std::nullopt;
    return FromQt(password);
}

std::optional<std::string> QtDialogs::AskSaveFileName(const ui::SaveFileRequest& request) {
    QFileDialog dialog(m_owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(ToQt(request.defaultExtension));
    // "Text Files (*.TXT)|*.TXT": description and pattern pairs.
    const QStringList parts = ToQt(request.filter).split('|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) filters << parts[i];
    dialog.setNameFilters(filters);
    dialog.selectFile(ToQt(request.fileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return FromQt(dialog.selectedFiles().first());
}

void QtDialogs::SetBusy(bool busy) {
    if (busy) {
        if (m_busyDepth++ == 0) QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (m_busyDepth > 0) {
        if (--m_busyDepth == 0) QApplication::restoreOverrideCursor();
    }
}

void QtDialogs::ProcessEvents() { QApplication::processEvents(); }

void QtDialogs::RegisterForm(const std::string& formName, FormDialogFactory factory) {
    m_factories[formName] = std::move(factory);
}

void QtDialogs::ShowModal(ui::ModalForm& modal) {
    // The only windows shown modally are the window's forms.
    ui::Form& form = dynamic_cast<ui::Form&>(modal);
    const auto factory = m_factories.find(form.Name());
    if (factory == m_factories.end()) return;
    QDialog* dialog = factory->second(form, m_owner);
    // Modal to the main window only, so that the help window (a window of its own) stays usable
    // while the form is open.
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setWindowTitle(ToQt(form.Caption()));
    // The dialog closes when the form is hidden (its Close button), and closing the dialog by its
    // close box hides the form.
    const int id = form.Subscribe([dialog, &form] {
        if (!form.Visible()) dialog->accept();
    });
    form.SetVisible(true);
    dialog->exec();
    form.Unsubscribe(id);
    form.SetVisible(false);
    delete dialog;
}

void QtDialogs::ShowHelp(const std::string& helpFile) {
    if (!m_help) {
        // A window of its own, not a child of the main window: the modal forms block only the main
        // window, so help can be read, scrolled and closed from any of them.
        auto* dialog = new QDialog(nullptr, Qt::Window);
        dialog->setObjectName("helpWindow");
        dialog->setWindowTitle(QStringLiteral("Zarnix32 Library Upgrade - Help"));
        dialog->resize(760, 620);
        auto* layout = new QVBoxLayout(dialog);
        auto* browser = new QTextBrowser(dialog);
        browser->setObjectName("helpBrowser");
        browser->setOpenExternalLinks(false);
        layout->addWidget(browser);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
        QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::hide);
        layout->addWidget(buttons);
        m_help = dialog;
    }
    auto* browser = m_help->findChild<QTextBrowser*>("helpBrowser");
    // Opened at its contents, the top of the document.
    browser->setSource(QUrl::fromLocalFile(ToQt(helpFile)), QTextDocument::HtmlResource);
    if (browser->document()->isEmpty())
        browser->setHtml("<p>The help file <tt>" + ToQt(helpFile).toHtmlEscaped() + "</tt> cannot be read.</p>");
    browser->scrollToAnchor("contents");
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

int QtDialogs::TextWidth(const std::string& text, const ui::UiFont& font) {
    const QFont base = m_owner ? m_owner->font() : QApplication::font();
    return QFontMetrics(FontOf(font, base)).horizontalAdvance(ToQt(text));
}

void QtDialogs::EndProgram() { QApplication::quit(); }

void QtDialogs::ShowProgress(const std::string& text, size_t done, size_t total) {
    if (m_progressHandler) m_progressHandler(text, done, total);
}

bool QtFontCatalog::FontExists(std::string& name) {
    const QString wanted = ToQt(name);
    for (const QString& family : QFontDatabase::families()) {
        if (family.compare(wanted, Qt::CaseInsensitive) == 0) {
            name = FromQt(family);
            return true;
        }
    }
    return false;
}

std::string QtFontCatalog::FontForLanguage(const std::string& language) {
    QFontDatabase::WritingSystem system = QFontDatabase::Latin;
    QStringList preferred;
    if (language == "zh-TW") system = QFontDatabase::TraditionalChinese, preferred = {"Noto Sans CJK TC", "AR PL UMing TW"};
    else if (language == "zh-CN") system = QFontDatabase::SimplifiedChinese, preferred = {"Noto Sans CJK SC", "WenQuanYi Zen Hei"};
    else if (language == "ja") system = QFontDatabase::Japanese, preferred = {"Noto Sans CJK JP", "IPAPGothic"};
    else if (language == "ko") system = QFontDatabase::Korean, preferred = {"Noto Sans CJK KR", "UnDotum"};
    else return {};
    const QStringList families = QFontDatabase::families(system);
    for (const QString& family : preferred)
        if (families.contains(family)) return FromQt(family);
    return families.isEmpty() ? std::string() : FromQt(families.first());
}

std::string QtFontCatalog::GeneralFont() { return FromQt(QFontDatabase::systemFont(QFontDatabase::GeneralFont).family()); }

}  // namespace zrx::qt
