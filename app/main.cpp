#include <exception>
#include <iostream>

#include "app/run.h"
#include "platform/CWinApp.h"

CWinApp theApp(nullptr);

int main(int argc, char* argv[])
{
    // Only file exceptions are handled inside the run; anything else (out of
    // memory, say) still ends the process with a status of its own, after the
    // open files have been released.
    try {
        return app::run(argc, argv, std::cout, std::cerr);
    } catch (std::exception const& e) {
        std::cerr << "Fatal Error: " << e.what() << std::endl;
    } catch (...) {
        std::cerr << "Fatal Error: unexpected failure" << std::endl;
    }
    return 2;
}
