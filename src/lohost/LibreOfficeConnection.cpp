#include "lohost/LibreOfficeConnection.h"

#include "lohost/LibreOfficeHost.h"

#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/util/CloseVetoException.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/bootstrap.hxx>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace lumora {

namespace lo {

namespace {

/// The process's own UNO context, made once from the office installation's
/// type and service registries.
Reference<css::uno::XComponentContext> LocalContext() {
    static std::mutex mutex;
    static Reference<css::uno::XComponentContext> context;
    std::lock_guard<std::mutex> lock(mutex);
    if (!context.is()) {
        // Writing into the pipe of an office that has gone must be an error of the
        // call, not the end of the program.
        struct sigaction old {};
        if (sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler == SIG_DFL)
            std::signal(SIGPIPE, SIG_IGN);
        const std::string ini =
            std::string("vnd.sun.star.pathname:") + LUMORA_LO_PROGRAM_DIR + "/fundamentalrc";
        setenv("URE_BOOTSTRAP", ini.c_str(), 0);
        context = cppu::defaultBootstrap_InitialComponentContext();
    }
    return context;
}

std::string AcceptString(const std::string& pipe) {
    return "pipe,name=" + pipe + ";urp;StarOffice.ComponentContext";
}

/// Settings a fresh private profile starts with: no first-start wizard, no tips, no
/// recovery, no questions about keeping a foreign file format.
constexpr const char* kProfileSettings = R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Setup/Office"><prop oor:name="ooSetupInstCompleted" oor:op="fuse"><value>true</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="FirstRun" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="ShowTipOfTheDay" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Recovery/AutoSave"><prop oor:name="Enabled" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Recovery/RecoveryInfo"><prop oor:name="Enabled" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Save/Document"><prop oor:name="WarnAlienFormat" oor:op="fuse"><value>false</value></prop></item>
</oor:items>
)";

bool SeedProfile(const std::string& dir, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path user = fs::path(dir) / "user";
    fs::create_directories(user, ec);
    if (ec) {
        error = "Cannot create the LibreOffice profile " + dir + ": " + ec.message();
        return false;
    }
    const fs::path settings = user / "registrymodifications.xcu";
    if (fs::exists(settings, ec)) return true;
    std::ofstream out(settings);
    out << kProfileSettings;
    if (!out) {
        error = "Cannot write " + settings.string();
        return false;
    }
    return true;
}

} // namespace

Reference<css::uno::XComponentContext> ConnectOffice(const std::string& pipe, std::string& error) {
    error.clear();
    try {
        auto resolver = css::bridge::UnoUrlResolver::create(LocalContext());
        Reference<css::uno::XComponentContext> remote(
            resolver->resolve(ToOU("uno:" + AcceptString(pipe))), UNO_QUERY_THROW);
        return remote;
    } catch (const css::uno::Exception& e) {
        error = "No LibreOffice answers on the pipe \"" + pipe + "\"" +
                (e.Message.isEmpty() ? std::string() : " (" + FromOU(e.Message) + ")");
        return {};
    }
}

Reference<css::uno::XComponentContext> ConnectOrStart(const LibreOfficeOptions& options, bool start,
                                                      std::string& error) {
    auto remote = ConnectOffice(options.pipe, error);
    if (remote.is() || !start) return remote;
    if (!StartLibreOffice(options, error)) return {};
    const auto until = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(static_cast<long>(options.startTimeout * 1000));
    while (std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        remote = ConnectOffice(options.pipe, error);
        if (remote.is()) return remote;
    }
    error = "LibreOffice (" + options.program + ") was started but did not answer on the pipe \"" +
            options.pipe + "\"";
    return {};
}

} // namespace lo

LibreOfficeOptions DefaultLibreOfficeOptions() {
    LibreOfficeOptions o;
    if (const char* pipe = std::getenv("LUMORA_LO_PIPE"); pipe && *pipe) o.pipe = pipe;
    // Without a display (batch runs on a server) an office can only run headless.
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    o.headless = !(x && *x) && !(wayland && *wayland);
    return o;
}

bool LibreOfficeAnswers(const LibreOfficeOptions& options) {
    std::string error;
    return lo::ConnectOffice(options.pipe, error).is();
}

bool StartLibreOffice(const LibreOfficeOptions& options, std::string& error) {
    error.clear();
    std::vector<std::string> args = {options.program, "--accept=" + lo::AcceptString(options.pipe),
                                     "--norestore", "--nologo", "--nodefault"};
    if (options.headless) args.push_back("--headless");
    if (!options.profileDir.empty()) {
        if (!lo::SeedProfile(options.profileDir, error)) return false;
        args.push_back("-env:UserInstallation=file://" +
                       std::filesystem::absolute(options.profileDir).string());
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    // Two forks: the office becomes a child of init in its own session, so it
    // outlives the program and leaves no zombie behind.
    int status[2];
    if (pipe2(status, O_CLOEXEC) != 0) {
        error = "Cannot start LibreOffice: no pipe";
        return false;
    }
    const pid_t child = fork();
    if (child < 0) {
        close(status[0]);
        close(status[1]);
        error = "Cannot start LibreOffice: fork failed";
        return false;
    }
    if (child == 0) {
        setsid();
        if (fork() == 0) {
            const int null = open("/dev/null", O_RDWR);
            if (null >= 0) {
                dup2(null, 0);
                dup2(null, 1);
                dup2(null, 2);
            }
            execvp(argv[0], argv.data());
            const char failed = 1;
            (void)!write(status[1], &failed, 1);
            _exit(127);
        }
        _exit(0);
    }
    close(status[1]);
    int ws = 0;
    waitpid(child, &ws, 0);
    char failed = 0;
    const bool execFailed = read(status[0], &failed, 1) == 1;
    close(status[0]);
    if (execFailed) {
        error = "Cannot start LibreOffice: \"" + options.program + "\" cannot be run";
        return false;
    }
    return true;
}

bool TerminateLibreOffice(const LibreOfficeOptions& options, std::string& error) {
    auto remote = lo::ConnectOffice(options.pipe, error);
    if (!remote.is()) return false;
    try {
        auto desktop = lo::css::frame::Desktop::create(remote);
        // Documents with unsaved changes would veto the end: whoever ends the office
        // has decided about them, so they close unsaved.
        auto documents = desktop->getComponents()->createEnumeration();
        while (documents->hasMoreElements()) {
            lo::Reference<lo::css::util::XCloseable> c(documents->nextElement(), lo::UNO_QUERY);
            try {
                if (c.is()) c->close(true);
            } catch (const lo::css::util::CloseVetoException&) {
                // a document busy in the office: terminate decides
            }
        }
        if (!desktop->terminate()) {
            error = "LibreOffice refused to end";
            return false;
        }
    } catch (const lo::css::lang::DisposedException&) {
        // the connection went down with the office
    } catch (const lo::css::uno::Exception& e) {
        error = "LibreOffice did not end: " + lo::FromOU(e.Message);
        return false;
    }
    return true;
}

} // namespace lumora
