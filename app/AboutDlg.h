// The About box: template 100, no code of its own beyond showing it.
#pragma once

#include "app/DialogWindow.h"
#include "res/Strings.h"

namespace tunlet {

class CAboutDlg {
public:
    explicit CAboutDlg(DialogWindow& owner) : owner_(owner) {}
    int DoModal() { return owner_.RunModal(res::kIddAboutBox); }

private:
    DialogWindow& owner_;
};

}  // namespace tunlet
