// Reads ipsetter.exe as Windows does and checks what a user sees of the file: the version
// information of its Details tab and the icon in both sizes; and what the loader reads first, the
// load configuration's DependentLoadFlags. Prints one line per check and
// "N passed, N failed".
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int passed = 0, failed = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  (ok ? passed : failed)++;
}

std::string Utf8(const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
  return out;
}

void CheckVersion(const wchar_t* path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  Check(size > 0, "the file has version information");
  if (size == 0) return;
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(path, 0, size, data.data())) return Check(false, "GetFileVersionInfoW");

  struct Translation {
    WORD language, codepage;
  }* translations = nullptr;
  UINT length = 0;
  VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &length);
  Check(length >= sizeof(Translation), "the version information names its language");
  if (length < sizeof(Translation)) return;
  wchar_t block[64];
  std::swprintf(block, 64, L"\\StringFileInfo\\%04x%04x\\", translations[0].language, translations[0].codepage);

  const std::pair<const wchar_t*, const wchar_t*> fields[] = {{L"FileDescription", L"View and Edit Network Settings"},
                                                              {L"FileVersion", L"1.00"},
                                                              {L"ProductVersion", L"1.00"},
                                                              {L"ProductName", L"Ipsetter"},
                                                              {L"OriginalFilename", L"ipsetter.exe"}};
  for (const auto& [name, expected] : fields) {
    wchar_t* value = nullptr;
    UINT chars = 0;
    const bool found =
        VerQueryValueW(data.data(), (std::wstring(block) + name).c_str(), reinterpret_cast<void**>(&value), &chars);
    const std::wstring actual = found && value ? value : L"(none)";
    Check(actual == expected, Utf8(std::wstring(name) + L" is \"" + expected + L"\" (read \"" + actual + L"\")"));
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length);
  Check(fixed && fixed->dwFileVersionMS == MAKELONG(0, 1) && fixed->dwFileVersionLS == 0,
        "the numeric file version is 1.0.0.0");
}

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colors, reserved;
  WORD planes, bit_count;
  DWORD bytes;
  WORD id;
};
struct GroupIconHeader {
  WORD reserved, type, count;
};
#pragma pack(pop)

BOOL CALLBACK FirstGroup(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR out) {
  *reinterpret_cast<LPWSTR*>(out) = IS_INTRESOURCE(name) ? name : _wcsdup(name);
  return FALSE;
}

void CheckIcon(const wchar_t* path) {
  HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  Check(module != nullptr, "the file loads as a resource module");
  if (!module) return;
  LPWSTR group = nullptr;
  EnumResourceNamesW(module, RT_GROUP_ICON, FirstGroup, reinterpret_cast<LONG_PTR>(&group));
  Check(group != nullptr, "the file has an icon (its first icon group is the file's icon)");
  if (group) {
    HRSRC info = FindResourceW(module, group, RT_GROUP_ICON);
    const auto* header = static_cast<const GroupIconHeader*>(LockResource(LoadResource(module, info)));
    bool has32 = false, has16 = false;
    for (WORD i = 0; header && i < header->count; ++i) {
      const auto& e = reinterpret_cast<const GroupIconEntry*>(header + 1)[i];
      const bool sixteen_colours = e.bit_count == 4 || e.colors == 16;
      if (e.width == 32 && e.height == 32 && sixteen_colours) has32 = true;
      if (e.width == 16 && e.height == 16 && sixteen_colours) has16 = true;
      // The image itself must be there and be a bitmap with its mask (twice the height).
      HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(e.id), RT_ICON);
      const auto* bitmap = image ? static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, image))) : nullptr;
      Check(bitmap && bitmap->biWidth == e.width && bitmap->biHeight == 2 * e.height,
            "icon image " + std::to_string(e.width) + "x" + std::to_string(e.height) + " carries its colour and mask");
    }
    Check(has32, "the icon has a 32 x 32, 16-colour image");
    Check(has16, "the icon has a 16 x 16, 16-colour image");
  }
  FreeLibrary(module);
}

// The layouts of the load configuration, per kind of file: the checker reads either, whatever it
// was built for.
struct LoadConfigLayout {
  WORD magic;
  const char* kind;
  DWORD size, dependent_load_flags;
};
constexpr LoadConfigLayout kLoadConfigLayouts[] = {
    {IMAGE_NT_OPTIONAL_HDR64_MAGIC, "PE32+", sizeof(IMAGE_LOAD_CONFIG_DIRECTORY64),
     offsetof(IMAGE_LOAD_CONFIG_DIRECTORY64, Reserved1)},
    {IMAGE_NT_OPTIONAL_HDR32_MAGIC, "PE32", sizeof(IMAGE_LOAD_CONFIG_DIRECTORY32),
     offsetof(IMAGE_LOAD_CONFIG_DIRECTORY32, Reserved1)},
};

template <typename Headers>
IMAGE_DATA_DIRECTORY LoadConfigEntry(const BYTE* nt, DWORD* image_size) {
  const auto& optional = reinterpret_cast<const Headers*>(nt)->OptionalHeader;
  *image_size = optional.SizeOfImage;
  return optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG];
}

// What the loader reads before it resolves the imports: DependentLoadFlags must keep them to System32.
void CheckLoadConfig(const wchar_t* path) {
  HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) return Check(false, "the file maps as an image");
  // The low bits of the handle only mark it as a resource mapping.
  const auto* base = reinterpret_cast<const BYTE*>(reinterpret_cast<ULONG_PTR>(module) & ~ULONG_PTR{3});
  const BYTE* nt = base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew;
  const WORD magic = reinterpret_cast<const IMAGE_NT_HEADERS32*>(nt)->OptionalHeader.Magic;
  const LoadConfigLayout* layout = nullptr;
  for (const auto& l : kLoadConfigLayouts)
    if (l.magic == magic) layout = &l;
  char what[160];
  std::snprintf(what, sizeof what, "the file is a PE32 or PE32+ image (magic 0x%x)", magic);
  Check(layout != nullptr, what);
  if (!layout) {
    FreeLibrary(module);
    return;
  }
  DWORD image_size = 0;
  const IMAGE_DATA_DIRECTORY entry = magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC
                                         ? LoadConfigEntry<IMAGE_NT_HEADERS64>(nt, &image_size)
                                         : LoadConfigEntry<IMAGE_NT_HEADERS32>(nt, &image_size);
  const bool present = entry.VirtualAddress != 0 && entry.Size >= layout->dependent_load_flags + sizeof(WORD) &&
                       entry.VirtualAddress + entry.Size <= image_size;
  Check(present, std::string("the file has a load configuration that reaches DependentLoadFlags (") + layout->kind + ")");
  if (present) {
    const BYTE* config = base + entry.VirtualAddress;
    DWORD size = 0;
    WORD flags = 0;
    std::memcpy(&size, config, sizeof size);
    std::memcpy(&flags, config + layout->dependent_load_flags, sizeof flags);
    std::snprintf(what, sizeof what,
                  "load configuration (%s): Size 0x%lx as in the directory (0x%lx expected), DependentLoadFlags at 0x%lx: 0x%x",
                  layout->kind, size, layout->size, layout->dependent_load_flags, flags);
    Check(size == entry.Size && size == layout->size && flags == LOAD_LIBRARY_SEARCH_SYSTEM32,
          std::string(what) + " (0x800: System32 only)");
  }
  FreeLibrary(module);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::printf("usage: check-program-file PATH\\ipsetter.exe\n");
    return 2;
  }
  CheckVersion(argv[1]);
  CheckIcon(argv[1]);
  CheckLoadConfig(argv[1]);
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
