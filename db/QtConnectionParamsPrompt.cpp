#include "db/QtConnectionParamsPrompt.h"

#include "db/CParam.h"

namespace {
// FCParam refers to the dialog exactly while it is shown, on every path.
struct ShownDialog {
    explicit ShownDialog(TFCParam& dialog) { FCParam = &dialog; }
    ~ShownDialog() { FCParam = nullptr; }
    ShownDialog(const ShownDialog&) = delete;
    ShownDialog& operator=(const ShownDialog&) = delete;
};
} // namespace

int QtConnectionParamsPrompt::ShowModal(const ConnectionParamsRequest& request)
{
    TFCParam dialog(messages_, owner_);
    ShownDialog shown(dialog);
    dialog.Fill(request);
    return dialog.exec() == mrOk ? mrOk : mrCancel;
}
