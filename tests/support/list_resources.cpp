// A program of the test suite, built for Windows, that shows what an
// executable's resources are, as the system finds them:
//   list_resources EXE
// prints one line "type name language" for every resource, numbers in
// decimal, then "string 1: " and the text of string 1 in US English.
#include <cstdio>
#include <string>
#include <windows.h>

namespace {

std::string id_text(char const* id)
{
    return IS_INTRESOURCE(id) ? std::to_string(reinterpret_cast<ULONG_PTR>(id)) : std::string(id);
}

BOOL CALLBACK list_language(HMODULE, char const* type, char const* name, WORD language, LONG_PTR)
{
    std::printf("%s %s %u\n", id_text(type).c_str(), id_text(name).c_str(), language);
    return TRUE;
}

BOOL CALLBACK list_name(HMODULE module, char const* type, char* name, LONG_PTR)
{
    EnumResourceLanguagesA(module, type, name, list_language, 0);
    return TRUE;
}

BOOL CALLBACK list_type(HMODULE module, char* type, LONG_PTR)
{
    EnumResourceNamesA(module, type, list_name, 0);
    return TRUE;
}

// A string table block holds strings 16 * (block - 1) to 16 * block - 1, each
// a length in UTF-16 units followed by that many units.
std::string us_english_string(HMODULE module, unsigned id)
{
    HRSRC const found = FindResourceExA(
        module, RT_STRING, MAKEINTRESOURCEA(id / 16 + 1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (found == nullptr)
        return "(none)";
    auto const* units = static_cast<WCHAR const*>(LockResource(LoadResource(module, found)));
    for (unsigned skip = id % 16; skip > 0; --skip)
        units += 1 + *units;
    std::string text;
    for (unsigned i = 1; i <= units[0]; ++i)
        text += units[i] < 0x80 ? static_cast<char>(units[i]) : '?';
    return text;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: list_resources EXE\n");
        return 2;
    }
    HMODULE const module = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        std::printf("failed %lu\n", GetLastError());
        return 1;
    }
    EnumResourceTypesA(module, list_type, 0);
    std::printf("string 1: %s\n", us_english_string(module, 1).c_str());
    FreeLibrary(module);
    return 0;
}
