// Stand-in for the main backup program, for tests and demos only.
//
// Each run appends one line to the file named by KESMO_STANDIN_LOG (when
// set): the working folder and every argument (without argv[0]), separated
// by tabs. Inside a field a backslash is written as "\\", a tab as "\t", a
// line feed as "\n", a carriage return as "\r" and any other byte below
// 0x20 or 0x7F as "\xHH"; all other bytes are written as they are, so each
// argument can be recovered byte for byte. The line is written with one
// append, so parallel runs do not mix their lines.
//
// Then it sleeps KESMO_STANDIN_SLEEP_MS milliseconds (default 0) and ends
// with the exit code KESMO_STANDIN_EXIT (default 0). When the log cannot be
// written it ends with 125.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

void AppendEscaped(std::string& out, const char* text)
{
    static const char hex[] = "0123456789ABCDEF";
    for (const char* p = text; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 0xF];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
}

std::string CurrentFolder()
{
    std::string buf(4096, '\0');
    for (;;) {
        if (getcwd(buf.data(), buf.size()))
            return buf.c_str();
        if (errno != ERANGE || buf.size() > (1u << 20))
            return std::string();
        buf.resize(buf.size() * 2);
    }
}

bool WriteAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

long EnvNumber(const char* name, long fallback)
{
    const char* v = std::getenv(name);
    if (!v || !*v)
        return fallback;
    char* end = nullptr;
    const long n = std::strtol(v, &end, 10);
    return (end && *end == '\0') ? n : fallback;
}

void SleepMs(long ms)
{
    if (ms <= 0)
        return;
    timespec left {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) { }
}

} // namespace

int main(int argc, char** argv)
{
    if (const char* log = std::getenv("KESMO_STANDIN_LOG"); log && *log) {
        std::string line;
        AppendEscaped(line, CurrentFolder().c_str());
        for (int i = 1; i < argc; ++i) {
            line += '\t';
            AppendEscaped(line, argv[i]);
        }
        line += '\n';
        const int fd = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return 125;
        const bool ok = WriteAll(fd, line);
        if (close(fd) != 0 || !ok)
            return 125;
    }
    SleepMs(EnvNumber("KESMO_STANDIN_SLEEP_MS", 0));
    return int(EnvNumber("KESMO_STANDIN_EXIT", 0) & 0xFF);
}
