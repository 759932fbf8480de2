#include "app/Boxes.h"

#include "cable/Cable.h"
#include "link/Upload.h"
#include "media/StdioFile.h"
#include "res/Strings.h"

namespace tunlet {

namespace {

std::string WithReason(const char* first, const std::string& reason) {
    return reason.empty() ? std::string(first) : std::string(first) + "\n" + Capitalised(reason);
}

}  // namespace

std::string Capitalised(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

BoxText NotConnectedBox(const std::string& reason) {
    return {WithReason(res::kBoardNotConnected, reason), res::kBoardNotConnectedCaption, BoxIcon::Warning};
}

BoxText RefusedBox(const std::string& text) {
    return {WithReason(kRefusedFirstLine, text), res::kAppName, BoxIcon::Warning};
}

BoxText CheckBox(const BoardCheck& check) {
    switch (check.result) {
        case BoardCheck::Result::NotConnected:
            return NotConnectedBox(check.text);
        case BoardCheck::Result::Refused:
            return RefusedBox(check.text);
        case BoardCheck::Result::WriteFailed:
            return WriteErrorBox(CableWriteFailure());
        case BoardCheck::Result::Ready:
            break;
    }
    return {};
}

BoxText WriteErrorBox(const std::string& reason) { return {WithReason(kWriteError, reason), res::kAppName, BoxIcon::Error}; }

BoxText FileBox(const std::string& path) {
    std::string why;
    switch (StatFile(path.c_str())) {
        case FileKind::Regular: why = "it cannot be read"; break;
        case FileKind::Missing: why = "it is not there any more, or cannot be read"; break;
        case FileKind::Directory: why = kIsDirectoryText; break;
        case FileKind::NotRegular: why = kNotRegularText; break;
    }
    return {WithReason(kFileNotOpened, "Tunlet cannot open " + path + ": " + why), res::kAppName, BoxIcon::Error};
}

BoxText PlainBox(const std::string& text) { return {Capitalised(text), res::kAppName, BoxIcon::Error}; }

BoxText WorkerBox(std::string_view text, const char* path) {
    if (text == kWriteError) return WriteErrorBox(CableWriteFailure());
    if (text == kFileNotOpened && path != nullptr) return FileBox(path);
    return PlainBox(std::string(text));
}

}  // namespace tunlet
