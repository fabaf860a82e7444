#include "platform/CWinApp.h"

#include <cassert>

#include "platform/os.h"

namespace {

CWinApp* s_app = nullptr;

}  // namespace

CWinApp::CWinApp(char const* /*app_name*/)
{
    assert(s_app == nullptr && "one application object per process");
    s_app = this;
}

CWinApp::~CWinApp() { s_app = nullptr; }

CWinApp* AfxGetApp() { return s_app; }

bool AfxWinInit(void* instance, void* /*previous_instance*/, char* /*command_line*/, int /*show*/)
{
    if (s_app == nullptr || instance == nullptr)
        return false;
    platform::os::prepare_process();
    return true;
}

namespace platform {

void* GetModuleHandleA(char const* module_name)
{
    // Only the running executable's own handle is ever asked for.
    return module_name == nullptr ? os::module_handle() : nullptr;
}

char* GetCommandLineA() { return os::command_line(); }

}  // namespace platform
