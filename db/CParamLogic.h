#pragma once
// What the connection parameters dialog does, apart from its widgets: the
// selected database kind, the four entry texts, the visibility of the server
// field, and the OK button writing the section.
#include "db/ConnectionParamsPrompt.h"

#include <string>

class TFCParamLogic {
public:
    static constexpr int kindOracle = 2;

    std::string Sect;        // settings section that OK writes
    std::u16string PanelTtl; // why the dialog is open
    int ComboDBIndex = -1;   // -1: nothing selected
    std::u16string EServ;
    std::u16string EBase;
    std::u16string EUser;
    std::u16string EPass;
    bool EServVisible = true; // the label LServ follows it
    int ModalResult = 0;      // 0 while open

    // Fills the dialog for one connection attempt.
    void Fill(const ConnectionParamsRequest& request);

    void FormShow();
    // Oracle has no server: its field is hidden and emptied.
    void ComboDBChange();
    // Writes all five keys of Sect, in order, then closes with OK. A refused
    // write throws and leaves the dialog open.
    void BBOKClick();
};
