#include "lohost/LibreOfficeHost.h"

#include "lohost/LibreOfficeConnection.h"
#include "lohost/LibreOfficeWorkbook.h"
#include "lohost/LibreOfficeWriteBehind.h"

#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/document/XDocumentEventBroadcaster.hpp>
#include <com/sun/star/document/XDocumentEventListener.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XEventListener.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/task/XStatusIndicator.hpp>
#include <com/sun/star/task/XStatusIndicatorFactory.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/implbase1.hxx>
#include <osl/file.hxx>
#include <rtl/ref.hxx>

#include <filesystem>
#include <fstream>
#include <mutex>

namespace lumora {

using namespace lo;

namespace {

/// Marks a workbook dead when its document is closed, and tells it when the office
/// stored the document (the user saving in Calc): the file is then the office's copy.
class DocumentListener : public cppu::WeakImplHelper1<css::document::XDocumentEventListener> {
public:
    DocumentListener(std::shared_ptr<std::atomic<bool>> alive,
                     std::shared_ptr<std::atomic<bool>> stored)
        : alive_(std::move(alive)), stored_(std::move(stored)) {}
    void SAL_CALL documentEventOccured(const css::document::DocumentEvent& e) override {
        if (e.EventName == "OnSaveDone" || e.EventName == "OnSaveAsDone") *stored_ = true;
    }
    void SAL_CALL disposing(const css::lang::EventObject&) override { *alive_ = false; }

private:
    std::shared_ptr<std::atomic<bool>> alive_, stored_;
};

/// Whether the office process that accepts on the pipe was started without windows.
/// UNO does not tell, so its command line does; an office reached through a pipe
/// that a later call handed to it counts as one with windows.
bool OfficeIsHeadless(const std::string& pipe) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        if (!in) continue;
        std::vector<std::string> args;
        for (std::string a; std::getline(in, a, '\0');) args.push_back(a);
        if (args.empty() || args[0].find("soffice") == std::string::npos) continue;
        bool accepts = false, headless = false;
        for (const auto& a : args) {
            if (a.find("pipe,name=" + pipe + ";") != std::string::npos) accepts = true;
            if (a == "--headless" || a == "-headless" || a == "--invisible") headless = true;
        }
        if (accepts) return headless;
    }
    return false;
}

bool Same(const Reference<css::uno::XInterface>& a, const Reference<css::uno::XInterface>& b) {
    Reference<css::uno::XInterface> x(a, UNO_QUERY), y(b, UNO_QUERY);
    return x.get() == y.get();
}

} // namespace

struct LibreOfficeHost::Impl {
    LibreOfficeOptions options;
    Reference<css::uno::XComponentContext> remote;
    Reference<css::frame::XDesktop2> desktop;
    /// Every document seen, so that pointers handed out stay valid.
    std::vector<std::unique_ptr<LibreOfficeWorkbook>> books;
    /// The Calc documents open at the last look, in the office's order.
    std::vector<LibreOfficeWorkbook*> listed;
    LibreOfficeWorkbook* lastActive = nullptr;
    /// The office runs without windows.
    bool headless = false;
    bool displayStatusBar = true;
    bool interactive = true;
    bool screenUpdating = true;
    Reference<css::task::XStatusIndicator> indicator;
    std::vector<Reference<css::frame::XModel>> locked;
    std::vector<Reference<css::awt::XWindow>> disabled;
    /// Declared after the books: it stops, and sends what is left, before they go.
    WriteBehind writes;

    bool Connect(bool start, std::string& error) {
        remote = ConnectOrStart(options, start, error);
        if (!remote.is()) return false;
        try {
            desktop = css::frame::Desktop::create(remote);
        } catch (const css::uno::Exception& e) {
            error = "LibreOffice has no desktop: " + FromOU(e.Message);
            remote.clear();
            return false;
        }
        headless = options.headless || OfficeIsHeadless(options.pipe);
        for (auto& b : books) b->MarkDead(); // documents of an earlier connection
        listed.clear();
        lastActive = nullptr;
        indicator.clear();
        locked.clear();
        disabled.clear();
        return true;
    }

    bool Alive() {
        if (!desktop.is()) return false;
        try {
            desktop->getFrames();
            return true;
        } catch (const css::uno::Exception&) {
            return false;
        }
    }

    LibreOfficeWorkbook* BookFor(const Reference<css::frame::XModel>& model) {
        for (auto& b : books)
            if (b->Alive() && Same(b->Model(), model)) return b.get();
        BookHooks hooks;
        hooks.activated = [this](LibreOfficeWorkbook* b) { lastActive = b; };
        hooks.reopen = [this](LibreOfficeWorkbook* b, std::string& error) {
            return Reopen(b, error);
        };
        hooks.office = remote;
        books.push_back(std::make_unique<LibreOfficeWorkbook>(model, this, &writes, hooks));
        LibreOfficeWorkbook* book = books.back().get();
        Watch(model, book);
        return book;
    }

    static void Watch(const Reference<css::frame::XModel>& model, LibreOfficeWorkbook* book) {
        rtl::Reference<DocumentListener> listener =
            new DocumentListener(book->AliveFlag(), book->StoredFlag());
        Reference<css::lang::XComponent> component(model, UNO_QUERY);
        if (component.is()) component->addEventListener(listener.get());
        Reference<css::document::XDocumentEventBroadcaster> events(model, UNO_QUERY);
        if (events.is()) events->addDocumentEventListener(listener.get());
    }

    /// Loads a file as a document: never running its macros, hidden in a headless office
    /// (which aborts when a document window is shown).
    Reference<css::lang::XComponent> Load(const OUString& url) {
        Reference<css::frame::XComponentLoader> loader(desktop, UNO_QUERY_THROW);
        Sequence<css::beans::PropertyValue> props(2);
        props.getArray()[0].Name = "MacroExecutionMode";
        props.getArray()[0].Value <<= sal_Int16(0);
        props.getArray()[1].Name = "Hidden";
        props.getArray()[1].Value <<= headless;
        return loader->loadComponentFromURL(url, "_default", 0, props);
    }

    Reference<css::frame::XModel> Reopen(LibreOfficeWorkbook* book, std::string& error) {
        try {
            const OUString url = book->Model()->getURL();
            Reference<css::util::XCloseable> old(book->Model(), UNO_QUERY_THROW);
            old->close(true);
            Reference<css::sheet::XSpreadsheetDocument> doc(Load(url), UNO_QUERY);
            Reference<css::frame::XModel> model(doc, UNO_QUERY);
            if (!model.is()) {
                error = "LibreOffice did not load " + FromOU(url) + " again as a spreadsheet";
                return {};
            }
            Watch(model, book);
            return model;
        } catch (const css::uno::Exception& e) {
            error = OfficeError(e).Description();
            return {};
        }
    }

    void List() {
        listed.clear();
        Reference<css::container::XEnumeration> e = desktop->getComponents()->createEnumeration();
        while (e->hasMoreElements()) {
            Reference<css::sheet::XSpreadsheetDocument> doc(e->nextElement(), UNO_QUERY);
            if (!doc.is()) continue;
            Reference<css::frame::XModel> model(doc, UNO_QUERY);
            if (model.is()) listed.push_back(BookFor(model));
        }
    }

    LibreOfficeWorkbook* Active() {
        // Hidden documents of a headless office never become current: the one the
        // program opened or activated last is the active one there.
        if (headless && lastActive && lastActive->Alive()) return lastActive;
        Reference<css::frame::XModel> model(desktop->getCurrentComponent(), UNO_QUERY);
        Reference<css::sheet::XSpreadsheetDocument> doc(model, UNO_QUERY);
        if (doc.is()) return BookFor(model);
        // Without windows (headless) the office may have no current document: the one
        // the program opened or activated last, while it is open.
        if (lastActive && lastActive->Alive()) return lastActive;
        return nullptr;
    }

    /// The frames of the open Calc documents.
    std::vector<Reference<css::frame::XFrame>> Frames() {
        List();
        std::vector<Reference<css::frame::XFrame>> frames;
        for (auto* b : listed) {
            Reference<css::frame::XController> c = b->Model()->getCurrentController();
            if (c.is() && c->getFrame().is()) frames.push_back(c->getFrame());
        }
        return frames;
    }

    Reference<css::frame::XFrame> ActiveFrame() {
        LibreOfficeWorkbook* book = Active();
        if (!book) return {};
        Reference<css::frame::XController> c = book->Model()->getCurrentController();
        return c.is() ? c->getFrame() : Reference<css::frame::XFrame>();
    }
};

LibreOfficeHost::LibreOfficeHost(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

LibreOfficeHost::~LibreOfficeHost() {
    // Give the user back a usable office; it stays open.
    try {
        if (impl_->Alive()) {
            if (!impl_->screenUpdating) SetScreenUpdating(true);
            if (!impl_->interactive) SetInteractive(true);
            if (impl_->indicator.is()) ResetStatusBar();
        }
    } catch (...) {
    }
}

std::shared_ptr<LibreOfficeHost> LibreOfficeHost::Connect(const LibreOfficeOptions& options,
                                                          bool start, std::string& error) {
    auto impl = std::make_unique<Impl>();
    impl->options = options;
    if (!impl->Connect(start, error)) return nullptr;
    return std::shared_ptr<LibreOfficeHost>(new LibreOfficeHost(std::move(impl)));
}

bool LibreOfficeHost::Connected() const {
    return impl_->Alive();
}

bool LibreOfficeHost::Reconnect(bool start, std::string& error) {
    return impl_->Connect(start, error);
}

void LibreOfficeHost::SetVisible(bool) {
    // The documents' windows are the user's; a headless office has none to show.
}

int LibreOfficeHost::WorkbookCount() {
    impl_->writes.FlushAll();
    return Guarded([&] {
        impl_->List();
        return static_cast<int>(impl_->listed.size());
    });
}

Workbook* LibreOfficeHost::WorkbookItem(int index) {
    if (impl_->listed.empty()) WorkbookCount();
    if (index < 1 || index > static_cast<int>(impl_->listed.size())) return nullptr;
    LibreOfficeWorkbook* book = impl_->listed[static_cast<size_t>(index - 1)];
    return book->Alive() ? book : nullptr;
}

Workbook* LibreOfficeHost::Open(const std::string& path, std::string& error) {
    impl_->writes.FlushAll();
    error.clear();
    std::error_code ec;
    const std::string absolute = std::filesystem::absolute(path, ec).lexically_normal().string();
    if (!std::filesystem::is_regular_file(absolute, ec)) {
        error = "Cannot open " + path + ": no such file";
        return nullptr;
    }
    OUString url;
    if (osl::FileBase::getFileURLFromSystemPath(ToOU(absolute), url) != osl::FileBase::E_None) {
        error = "Cannot open " + path + ": bad path";
        return nullptr;
    }
    try {
        // A document that is open already is brought to the front, not loaded again.
        const std::string wanted = std::filesystem::weakly_canonical(absolute, ec).string();
        impl_->List();
        for (auto* b : impl_->listed) {
            const std::string name = b->FullName();
            if (!name.empty() && std::filesystem::weakly_canonical(name, ec).string() == wanted) {
                b->Activate();
                return b;
            }
        }
        const auto stamp = FileStamp::Of(absolute);
        Reference<css::sheet::XSpreadsheetDocument> doc(impl_->Load(url), UNO_QUERY);
        if (!doc.is()) {
            error = "Cannot open " + path + ": LibreOffice did not load it as a spreadsheet";
            return nullptr;
        }
        LibreOfficeWorkbook* book = impl_->BookFor(Reference<css::frame::XModel>(doc, UNO_QUERY));
        book->LoadedHere(stamp);
        impl_->lastActive = book;
        impl_->List();
        return book;
    } catch (const css::uno::Exception& e) {
        error =
            "Cannot open " + path + ": " +
            (e.Message.isEmpty() ? std::string("LibreOffice cannot load it") : FromOU(e.Message));
        return nullptr;
    } catch (const RuntimeError& e) {
        error = "Cannot open " + path + ": " + e.Description();
        return nullptr;
    }
}

Workbook* LibreOfficeHost::ActiveWorkbook() {
    impl_->writes.FlushAll();
    return Guarded([&] { return impl_->Active(); });
}

bool LibreOfficeHost::DisplayStatusBar() const {
    return impl_->displayStatusBar;
}

void LibreOfficeHost::SetDisplayStatusBar(bool on) {
    impl_->displayStatusBar = on;
    if (!on && impl_->indicator.is()) ResetStatusBar();
}

void LibreOfficeHost::SetStatusBar(const std::string& text) {
    impl_->writes.FlushAll();
    if (!impl_->displayStatusBar) return;
    Guarded([&] {
        OwnCall own(impl_.get());
        if (!impl_->indicator.is()) {
            Reference<css::task::XStatusIndicatorFactory> factory(impl_->ActiveFrame(), UNO_QUERY);
            if (!factory.is()) return 0; // no window to show it in
            impl_->indicator = factory->createStatusIndicator();
            if (!impl_->indicator.is()) return 0;
            impl_->indicator->start(ToOU(text), 0);
        } else {
            impl_->indicator->setText(ToOU(text));
        }
        return 0;
    });
}

void LibreOfficeHost::ResetStatusBar() {
    impl_->writes.FlushAll();
    Reference<css::task::XStatusIndicator> indicator;
    std::swap(indicator, impl_->indicator);
    if (indicator.is())
        Guarded([&] {
            indicator->end();
            return 0;
        });
}

bool LibreOfficeHost::Interactive() const {
    return impl_->interactive;
}

void LibreOfficeHost::SetInteractive(bool on) {
    impl_->writes.FlushAll();
    if (on == impl_->interactive) return;
    impl_->interactive = on;
    Guarded([&] {
        if (!on) {
            for (auto& f : impl_->Frames()) {
                Reference<css::awt::XWindow> w = f->getContainerWindow();
                if (!w.is()) continue;
                w->setEnable(false);
                impl_->disabled.push_back(w);
            }
        } else {
            auto windows = std::move(impl_->disabled);
            impl_->disabled.clear();
            for (auto& w : windows) {
                try {
                    w->setEnable(true);
                } catch (const css::uno::Exception&) {
                    // its document was closed meanwhile
                }
            }
        }
        return 0;
    });
}

bool LibreOfficeHost::ScreenUpdating() const {
    return impl_->screenUpdating;
}

void LibreOfficeHost::SetScreenUpdating(bool on) {
    impl_->writes.FlushAll();
    if (on == impl_->screenUpdating) return;
    impl_->screenUpdating = on;
    Guarded([&] {
        if (!on) {
            impl_->List();
            for (auto* b : impl_->listed) {
                b->Model()->lockControllers();
                impl_->locked.push_back(b->Model());
            }
        } else {
            auto models = std::move(impl_->locked);
            impl_->locked.clear();
            for (auto& m : models) {
                try {
                    m->unlockControllers();
                } catch (const css::uno::Exception&) {
                    // its document was closed meanwhile
                }
            }
        }
        return 0;
    });
}

void LibreOfficeHost::CloseOpenedWorkbooks() {
    impl_->writes.FlushAll();
    for (auto& b : impl_->books) {
        if (!b->OpenedHere()) continue;
        try {
            b->Close();
        } catch (const RuntimeError&) {
            // the office has gone, or the document is busy there: nothing more to do
        }
    }
    impl_->listed.clear();
}

void LibreOfficeHost::DeliverChanges() {
    for (auto& b : impl_->books) b->DeliverPending();
}

std::shared_ptr<SpreadsheetApp> AttachLibreOfficeHost(bool start) {
    // Held weakly: the host goes with the last owner, before main returns, while the UNO
    // runtime is still there; a host left for the exit handlers would crash the exit.
    static std::mutex mutex;
    static std::weak_ptr<LibreOfficeHost> current;
    std::lock_guard<std::mutex> lock(mutex);
    std::shared_ptr<LibreOfficeHost> host = current.lock();
    if (host && host->Connected()) return host;
    std::string error;
    if (!host) {
        host = LibreOfficeHost::Connect(DefaultLibreOfficeOptions(), start, error);
        current = host;
        return host;
    }
    // The office went away: the same host reconnects, so the workbooks the program
    // still holds stay valid objects (they answer with errors).
    if (!host->Reconnect(start, error)) return nullptr;
    return host;
}

} // namespace lumora
