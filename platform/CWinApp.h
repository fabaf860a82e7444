// The application object and the class library's initialisation.
#pragma once

class CWinApp {
public:
    // The one application object of the process, made at global scope.
    explicit CWinApp(char const* app_name = nullptr);
    ~CWinApp();
    CWinApp(CWinApp const&) = delete;
    CWinApp& operator=(CWinApp const&) = delete;
};

// The application object, or null when the process has none.
CWinApp* AfxGetApp();

// Initialises the class library for the running executable. Returns false,
// without throwing, when there is no application object or no module handle.
bool AfxWinInit(void* instance, void* previous_instance, char* command_line, int show);

namespace platform {

// The module handle of the running executable (name null) and the process's
// whole command line, as the system gives them.
void* GetModuleHandleA(char const* module_name);
char* GetCommandLineA();

}  // namespace platform
