#include "app/run.h"

#include <cstdint>
#include <ostream>

#include "app/resource.h"
#include "clean/record_pass.h"
#include "platform/CFile.h"
#include "platform/CStdioFile.h"
#include "platform/CString.h"
#include "platform/CWinApp.h"
#include "runlog/run_log.h"

namespace app {

int run(int argc, char* argv[], std::ostream& out, std::ostream& err)
{
    int const exit_status = 0;

    if (!AfxWinInit(platform::GetModuleHandleA(nullptr), nullptr, platform::GetCommandLineA(), 0)) {
        err << "Fatal Error: MFC initialization failed" << std::endl;
        return 1;
    }

    CString greeting;
    greeting.LoadString(IDS_GREETING);
    out << static_cast<char const*>(greeting) << std::endl;

    if (argc < 2)
        return 1;
    CString path(argv[1]);
    path.TrimLeft();
    path.TrimRight();
    if (path.GetLength() == 0)
        return 1;

    // The log is opened before the data file, so a data file that names the
    // log itself finds it held and fails to open.
    CStdioFile log;
    bool const log_open = runlog::open_run_log(log);

    CFile data;
    if (!clean::open_data_file(data, path))
        return 1;

    clean::Record record;
    clean::OnChangedRecord on_changed;
    if (log_open)
        on_changed = [&log](clean::Record& changed) { runlog::write_record_line(log, changed); };
    std::int64_t const modified_records = clean::run_record_loop(data, record, on_changed);
    clean::close_data_file(data);

    if (log_open)
        runlog::finish_run_log(log, record, modified_records);
    return exit_status;
}

}  // namespace app
