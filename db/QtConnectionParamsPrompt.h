#pragma once
// Shows TFCParam modally when connecting needs corrected parameters.
#include "db/ConnectionParamsPrompt.h"
#include "platform/Messages.h"

class QWidget;

class QtConnectionParamsPrompt : public ConnectionParamsPrompt {
public:
    // messages receives the report of a refused settings write.
    explicit QtConnectionParamsPrompt(platform::Messages& messages, QWidget* owner = nullptr)
        : messages_(messages), owner_(owner)
    {}

    int ShowModal(const ConnectionParamsRequest& request) override;

private:
    platform::Messages& messages_;
    QWidget* owner_;
};
