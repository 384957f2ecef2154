// The interactive shell: a prompt with the current phone folder, line editing and
// history, Tab completion of commands and of the names in the current folder, and
// Ctrl-C and Ctrl-D as a shell has them.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#if defined(CEBRIDGE_HAVE_LIBEDIT)
#include <editline/readline.h>
#include <langinfo.h>
#include <unistd.h>

#include <clocale>
#endif

#include "commands.h"
#include "text.h"

namespace host {
namespace {

#if defined(CEBRIDGE_HAVE_LIBEDIT)
Context *g_shell = nullptr;
std::vector<std::string> g_candidates;
size_t g_nextCandidate = 0;
bool g_lineCancelled = false;

// One byte from the terminal. Ctrl-C (SIGINT, which interrupts the read) ends the
// line being typed: it is handed in as an empty line and dropped.
int ReadByte(FILE *in) {
    for (;;) {
        unsigned char key = 0;
        ssize_t got = ::read(fileno(in), &key, 1);
        if (got == 1) return key;
        if (got == 0 || errno != EINTR) return EOF;
        if (g_interrupted.exchange(false)) {
            g_lineCancelled = true;
            return '\n';
        }
    }
}

// Keys come through here. The line editor takes each key as one wide character, so
// a character typed in UTF-8 is read whole (a byte alone it would drop or garble);
// bytes that are not UTF-8 come as U+FFFD.
int ReadKey(FILE *in) {
    constexpr int kNotUtf8 = 0xFFFD;
    int lead = ReadByte(in);
    if (lead == EOF || lead < 0x80 || g_lineCancelled) return lead;
    if (lead < 0xC2 || lead > 0xF4) return kNotUtf8;
    int following = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
    int codePoint = lead & (0x3F >> following);
    for (; following > 0; --following) {
        int next = ReadByte(in);
        if (next == EOF || g_lineCancelled) return next;
        if ((next & 0xC0) != 0x80) return kNotUtf8;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    return codePoint;
}

// The line editor reads and shows characters in the encoding of LC_CTYPE, and the
// host's text is UTF-8: the user's locale when it is UTF-8, else C.UTF-8 (in the C
// locale every key that is not ASCII would be dropped).
void UseUtf8Characters() {
    if (std::setlocale(LC_CTYPE, "") && std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0) return;
    std::setlocale(LC_CTYPE, "C.UTF-8");
}

char *NextCandidate(const char *text, int state) {
    if (state == 0) g_nextCandidate = 0;
    while (g_nextCandidate < g_candidates.size()) {
        const std::string &candidate = g_candidates[g_nextCandidate++];
        if (candidate.compare(0, std::strlen(text), text) == 0) return strdup(candidate.c_str());
    }
    return nullptr;
}

// A name as the shell reads it back: blanks and quotes escaped.
std::string Escaped(const std::string &name) {
    std::string out;
    for (char c : name) {
        if (c == ' ' || c == '\t' || c == '"' || c == '\'' || c == '#') out += '\\';
        out += c;
    }
    return out;
}

// The first word completes to a command, any other to a name in the current folder.
char **Complete(const char *text, int start, int) {
    rl_attempted_completion_over = 1;  // never the PC's own file names
    g_candidates.clear();
    bool firstWord = std::string(rl_line_buffer, size_t(start)).find_first_not_of(" \t") == std::string::npos;
    if (firstWord) {
        g_candidates = CommandNames(*g_shell, true);
        g_candidates.insert(g_candidates.end(), {"help", "exit"});
    } else if (g_shell->Connect() == kExitOk) {
        std::vector<FolderEntry> entries;
        if (g_shell->link.EnterFolder(g_shell->currentFolder, &entries).ok)
            for (const FolderEntry &entry : entries) g_candidates.push_back(Escaped(DeviceToTerminal(entry.name)));
    }
    return rl_completion_matches(text, NextCandidate);
}
#endif

// One line from the user; false at the end of input (Ctrl-D).
bool ReadLine(const std::string &prompt, std::string *line) {
#if !defined(CEBRIDGE_HAVE_LIBEDIT)
    std::cout << prompt << std::flush;
    return static_cast<bool>(std::getline(std::cin, *line));
#else
    g_lineCancelled = false;
    char *text = readline(prompt.c_str());
    if (!text) return false;
    *line = g_lineCancelled ? std::string() : std::string(text);
    if (!line->empty()) add_history(text);
    std::free(text);
    return true;
#endif
}

}  // namespace

int RunShell(Context &context) {
#if defined(CEBRIDGE_HAVE_LIBEDIT)
    g_shell = &context;
    UseUtf8Characters();
    rl_catch_signals = 0;
    rl_outstream = ConsoleOut();
    rl_getc_function = ReadKey;
    rl_attempted_completion_function = Complete;
    rl_basic_word_break_characters = " \t";
#endif
    context.compactJson = true;
    std::string line;
    int last = kExitOk;
    for (;;) {
        g_interrupted = false;
        if (!ReadLine("cebridge:" + DeviceToTerminal(JoinDevicePath(context.currentFolder)) + "> ", &line)) {
            std::cout << std::endl;  // Ctrl-D leaves the terminal on a fresh line
            break;
        }
        if (line == "exit" || line == "quit") break;
        last = RunLine(context, line);
    }
    return last == kExitInterrupted ? kExitInterrupted : kExitOk;
}

}  // namespace host
