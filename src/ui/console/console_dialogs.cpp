#include "ui/console/console_dialogs.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>

#include "base/text_utils.h"

#include "ui/form.h"

namespace zrx::ui {

namespace {

// A message on one line of the terminal: its line breaks become blanks, and whatever else could
// drive the terminal or reorder the line (a name's control characters, say) is escaped.
std::string OneLine(const std::string& text) {
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        line += text[i] == '\n' || text[i] == '\r' || text[i] == '\v' ? ' ' : text[i];
    }
    return EscapeControls(line);
}

const char* AnswerName(Answer answer) {
    switch (answer) {
        case Answer::Yes: return "Yes";
        case Answer::No: return "No";
        case Answer::Abort: return "Abort";
        case Answer::Retry: return "Retry";
        case Answer::Ignore: return "Ignore";
        case Answer::Ok: return "OK";
    }
    return "";
}

// The terminal as it was before a password prompt turned its echo off, for a signal that ends the
// program at the prompt (Ctrl-C) to give it back.
int g_quietTerminal = -1;
struct termios g_savedTerminal {};
struct sigaction g_savedActions[4];
constexpr int kEndingSignals[4] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void RestoreTerminalAndEnd(int signal) {
    if (g_quietTerminal >= 0) ::tcsetattr(g_quietTerminal, TCSAFLUSH, &g_savedTerminal);
    for (size_t i = 0; i < 4; ++i) ::sigaction(kEndingSignals[i], &g_savedActions[i], nullptr);
    ::raise(signal);
}

// The echo is off for as long as this lives; a signal that ends the program meanwhile gives the
// terminal back as it was before it ends it.
class QuietTerminal {
public:
    explicit QuietTerminal(int fd) {
        if (::tcgetattr(fd, &g_savedTerminal) != 0) return;
        struct sigaction restore {};
        restore.sa_handler = RestoreTerminalAndEnd;
        sigemptyset(&restore.sa_mask);
        for (size_t i = 0; i < 4; ++i) ::sigaction(kEndingSignals[i], &restore, &g_savedActions[i]);
        g_quietTerminal = fd;
        struct termios quiet = g_savedTerminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    ~QuietTerminal() {
        if (g_quietTerminal < 0) return;
        ::tcsetattr(g_quietTerminal, TCSAFLUSH, &g_savedTerminal);
        g_quietTerminal = -1;
        for (size_t i = 0; i < 4; ++i) ::sigaction(kEndingSignals[i], &g_savedActions[i], nullptr);
    }
    QuietTerminal(const QuietTerminal&) = delete;
    QuietTerminal& operator=(const QuietTerminal&) = delete;
};

}  // namespace

ConsoleDialogs::ConsoleDialogs(std::FILE* err, std::FILE* in)
    : m_err(err), m_in(in), m_interactive(::isatty(::fileno(in)) != 0 && ::isatty(::fileno(err)) != 0) {}

void ConsoleDialogs::PrintLine(const std::string& text) {
    EndProgress();
    std::fprintf(m_err, "%s\n", text.c_str());
    std::fflush(m_err);
}

void ConsoleDialogs::Progress(const std::string& text) {
    if (!m_interactive) return;
    std::string line = OneLine(text);
    if (line.size() > 100) line = line.substr(0, 97) + "...";
    std::fprintf(m_err, "\r\033[K%s", line.c_str());
    std::fflush(m_err);
    m_statusShown = true;
}

void ConsoleDialogs::EndProgress() {
    if (!m_statusShown) return;
    std::fprintf(m_err, "\r\033[K");
    m_statusShown = false;
}

std::optional<Answer> ConsoleDialogs::AskTerminal(const MessageBox& box) {
    if (!m_interactive) return std::nullopt;
    const bool yesNo = box.buttons == Buttons::YesNo;
    for (;;) {
        std::fprintf(m_err, "%s %s ", OneLine(box.text).c_str(), yesNo ? "[y/n]" : "[a]bort/[r]etry/[i]gnore");
        std::fflush(m_err);
        char buffer[64];
        if (std::fgets(buffer, sizeof buffer, m_in) == nullptr) return std::nullopt;
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(buffer[0])));
        if (yesNo && c == 'y') return Answer::Yes;
        if (yesNo && c == 'n') return Answer::No;
        if (!yesNo && c == 'a') return Answer::Abort;
        if (!yesNo && c == 'r') return Answer::Retry;
        if (!yesNo && c == 'i') return Answer::Ignore;
    }
}

std::optional<std::string> ConsoleDialogs::AskPassword(const std::string& prompt) {
    EndProgress();
    const int fd = ::fileno(m_in);
    const bool terminal = ::isatty(fd) != 0;
    std::optional<QuietTerminal> quiet;
    if (terminal) {
        std::fprintf(m_err, "%s ", OneLine(prompt).c_str());
        std::fflush(m_err);
        quiet.emplace(fd);
    }
    // Room enough that a password is never copied as it grows: what is left behind is wiped.
    std::string password;
    password.reserve(1024);
    bool ended = false;
    for (int c; (c = std::fgetc(m_in)) != EOF;) {
        if (c == '\n') {
            ended = true;
            break;
        }
        if (password.size() + 1 >= password.capacity()) {
            WipeText(password);
            return std::nullopt;  // no password is that long
        }
        password += static_cast<char>(c);
    }
    if (terminal) {
        quiet.reset();
        std::fprintf(m_err, "\n");
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
    if (!ended && password.empty()) return std::nullopt;
    return password;
}

Answer ConsoleDialogs::ShowMessage(const MessageBox& box) {
    ++m_boxes;
    if (box.buttons == Buttons::Ok) {
        PrintLine(OneLine(box.text));
        return Answer::Ok;
    }
    EndProgress();
    if (m_answerer) {
        if (const auto answer = m_answerer(box)) {
            PrintLine(OneLine(box.text) + " -> " + AnswerName(*answer));
            return *answer;
        }
    }
    if (const auto answer = AskTerminal(box)) return *answer;
    const Answer fallback = box.buttons == Buttons::YesNo ? Answer::No : Answer::Abort;
    PrintLine(OneLine(box.text) + " -> " + AnswerName(fallback) + " (no terminal to ask and no option answers it)");
    return fallback;
}

std::optional<std::string> ConsoleDialogs::AskSaveFileName(const SaveFileRequest&) { return std::nullopt; }

void ConsoleDialogs::ShowModal(ModalForm& modal) {
    // The only windows shown modally are the window's forms.
    Form& form = dynamic_cast<Form&>(modal);
    form.SetVisible(true);
    if (const auto it = m_modal.find(form.Name()); it != m_modal.end()) it->second(form);
    form.SetVisible(false);
}

void ConsoleDialogs::ShowHelp(const std::string& helpFile) { PrintLine("Help: " + helpFile); }

int ConsoleDialogs::TextWidth(const std::string& text, const UiFont&) { return 7 * static_cast<int>(text.size()); }

}  // namespace zrx::ui
