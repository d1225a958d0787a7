// The framework's standard box for a file error, apart from the exception itself so that a
// program without windows can use the file class without linking any box.
#include "fw/file.h"
#include "fw/message_box.h"

int CFileException::ReportError() const {
    return AfxMessageBox(Describe().c_str(), MB_OK | MB_ICONEXCLAMATION);
}
