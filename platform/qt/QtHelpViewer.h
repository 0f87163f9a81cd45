#pragma once
// The help viewer of the dialog program: one help window, owned by the
// viewer and reused for every request, as the system's help window is.
#include "platform/HelpViewer.h"
#include "platform/qt/HelpWindow.h"

#include <QPointer>

#include <memory>
#include <string>

class QWidget;

namespace platform {

class QtHelpViewer : public HelpViewer {
public:
    // `owner` is the application window the help window belongs to; may be null.
    explicit QtHelpViewer(QWidget* owner = nullptr) : owner_(owner) {}
    ~QtHelpViewer() override;

    bool display(const std::string& address, HelpCommand command) override;

    // The window, once a request has shown one; for tests and for closing it.
    HelpWindow* window() const { return window_.data(); }

private:
    QWidget* owner_;
    // Owned by `owner` when there is one, else by the viewer.
    QPointer<HelpWindow> window_;
    // The file the window shows, kept for the next request on it: Windows
    // lets the help library open a file once at a time.
    std::string shownPath_;
    std::shared_ptr<const HelpChmFile> shownFile_;
};

} // namespace platform
