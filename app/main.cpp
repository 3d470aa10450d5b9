#include "status_dump.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

using TrayMain = int (*)(int, char**);

// This program's own directory, so that the module is found wherever the program was installed or built.
std::string executableDirectory()
{
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || size_t(length) >= path.size())
        return {};
    path.resize(size_t(length));
    return path.substr(0, path.rfind('/'));
}

// The tray lives in a module of its own: the widget libraries take longer to load than the whole
// status dump takes to run, and `--status` must not pay for them.
int runTray(int argc, char** argv)
{
    const std::string directory = executableDirectory();
    // Beside the program in the build tree; in the library directory once installed.
    const std::string candidates[] = {directory + "/" KIVOBAR_TRAY_MODULE,
                                      directory + "/" KIVOBAR_INSTALLED_TRAY_DIR "/" KIVOBAR_TRAY_MODULE};
    std::string failure;
    for (const std::string& candidate : candidates) {
        if (directory.empty() || ::access(candidate.c_str(), F_OK) != 0)
            continue;
        if (void* module = ::dlopen(candidate.c_str(), RTLD_LAZY | RTLD_LOCAL)) {
            if (auto trayMain = reinterpret_cast<TrayMain>(::dlsym(module, "kivobarTrayMain")))
                return trayMain(argc, argv);
        }
        failure = ::dlerror();
        break;
    }
    if (failure.empty())
        failure = "no " KIVOBAR_TRAY_MODULE " beside " + directory + " or in " + directory + "/" KIVOBAR_INSTALLED_TRAY_DIR;
    std::fprintf(stderr, "kivobar: cannot load the tray: %s\n", failure.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (wantsStatusDump(argc, argv))
        return runStatusDump(argc, argv);
    return runTray(argc, argv);
}
