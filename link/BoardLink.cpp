#include "link/BoardLink.h"

namespace tunlet {

BoardLink OpenBoardLink(const BoardRequest& request) {
    BoardLink link;
    if (FT_OpenEx("USB-Blaster", FT_OPEN_BY_DESCRIPTION, &link.handle) != FT_OK) {
        link.handle = nullptr;
        link.selection.check = {BoardCheck::Result::NotConnected, CableOpenFailure()};
        return link;
    }
    link.selection.check = {BoardCheck::Result::Ready, ""};
    // A cable that answers reads tells whether the board is there and is one Tunlet
    // drives; a file dump cannot, and gets exactly the upload's bytes.
    if (!request.check || !CableCanRead(link.handle)) return link;
    link.checked = true;
    link.selection = SelectBoard(link.handle, request.device);
    const BoardCheck::Result result = link.selection.check.result;
    if (result == BoardCheck::Result::Ready || (result == BoardCheck::Result::Refused && request.keepRefused)) return link;
    FT_Close(link.handle);
    link.handle = nullptr;
    return link;
}

}  // namespace tunlet
