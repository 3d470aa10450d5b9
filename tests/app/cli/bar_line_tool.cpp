// Prints the line a status bar's module gets while the agent is online and an action under way shows TEXT as its
// progress line, so that an end-to-end test can hand a real bar what KivoBar makes of any text.
// usage: bar_line_tool i3blocks|polybar TEXT

#include "cli/status_bars.h"

#include <cstdio>
#include <cstring>

using namespace Qt::StringLiterals;

int main(int argc, char** argv)
{
    if (argc != 3 || (std::strcmp(argv[1], "i3blocks") != 0 && std::strcmp(argv[1], "polybar") != 0)) {
        std::fputs("usage: bar_line_tool i3blocks|polybar TEXT\n", stderr);
        return 2;
    }
    const TrayState tray{.state = Reach::online({u"eu-1"_s}, 1), .busy = QString::fromUtf8(argv[2])};
    const QByteArray line = std::strcmp(argv[1], "i3blocks") == 0 ? i3blocksJson(tray) : polybarLine(tray);
    return std::fwrite(line.constData(), 1, size_t(line.size()), stdout) == size_t(line.size()) ? 0 : 1;
}
