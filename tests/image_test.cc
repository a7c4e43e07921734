// Reads the traits and resources of the built Kestrine.exe back out, with the
// same Windows APIs the loader and the shell use, and checks them.

#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

// The built program beside this test, or the one KESTRINE_IMAGE names (a
// signed copy, say).
std::string KestrinePath() {
  if (const char* image = std::getenv("KESTRINE_IMAGE")) return image;
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string directory(path, length);
  return directory.substr(0, directory.find_last_of("\\/") + 1) +
         "Kestrine.exe";
}

std::vector<unsigned char> FileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(file),
                                    std::istreambuf_iterator<char>());
}

template <typename T>
T At(const std::vector<unsigned char>& bytes, size_t offset) {
  T value;
  EXPECT_LE(offset + sizeof value, bytes.size());
  if (offset + sizeof value > bytes.size()) return T();
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

std::string Narrow(const wchar_t* text, size_t length) {
  std::string narrow;
  for (size_t i = 0; i < length && text[i] != 0; ++i)
    narrow += static_cast<char>(text[i]);
  return narrow;
}

class ImageTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    image_ = FileBytes(KestrinePath());
    module_ = LoadLibraryExA(KestrinePath().c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE);
  }
  static void TearDownTestSuite() {
    if (module_ != nullptr) FreeLibrary(module_);
  }

  static IMAGE_NT_HEADERS64 Headers() {
    return At<IMAGE_NT_HEADERS64>(image_,
                                  At<IMAGE_DOS_HEADER>(image_, 0).e_lfanew);
  }

  // The bytes of one resource, or empty if the image has no such resource.
  std::vector<unsigned char> Resource(LPCSTR type, WORD id) {
    HRSRC found = FindResourceExA(module_, type, MAKEINTRESOURCEA(id),
                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (found == nullptr) return {};
    const auto* data = static_cast<const unsigned char*>(
        LockResource(LoadResource(module_, found)));
    return std::vector<unsigned char>(data,
                                      data + SizeofResource(module_, found));
  }

  static std::vector<unsigned char> image_;
  static HMODULE module_;
};

std::vector<unsigned char> ImageTest::image_;
HMODULE ImageTest::module_ = nullptr;

TEST_F(ImageTest, IsAConsoleProgramForWindowsSixWithHardenedTraits) {
  const IMAGE_NT_HEADERS64 nt = Headers();
  ASSERT_EQ(nt.Signature, IMAGE_NT_SIGNATURE);
  EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_TRUE(nt.FileHeader.Characteristics & IMAGE_FILE_EXECUTABLE_IMAGE);
  EXPECT_TRUE(nt.FileHeader.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE);
  EXPECT_FALSE(nt.FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED);
  EXPECT_FALSE(nt.FileHeader.Characteristics & IMAGE_FILE_DLL);
  EXPECT_EQ(nt.FileHeader.TimeDateStamp, 0u);  // reproducible: no link time

  const IMAGE_OPTIONAL_HEADER64& optional = nt.OptionalHeader;
  EXPECT_EQ(optional.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
  EXPECT_EQ(optional.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_CUI);
  EXPECT_EQ(optional.MajorOperatingSystemVersion, 6);
  EXPECT_EQ(optional.MinorOperatingSystemVersion, 0);
  EXPECT_EQ(optional.MajorSubsystemVersion, 6);
  EXPECT_EQ(optional.MinorSubsystemVersion, 0);
  const WORD wanted = IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA |
                      IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE |
                      IMAGE_DLLCHARACTERISTICS_NX_COMPAT |
                      IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE;
  EXPECT_EQ(optional.DllCharacteristics & wanted, wanted);
  EXPECT_GT(optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size, 0u);
  EXPECT_EQ(optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_DEBUG].Size, 0u);
  EXPECT_EQ(optional.SizeOfStackReserve, 0x100000u);
  EXPECT_EQ(optional.SizeOfStackCommit, 0x1000u);
  EXPECT_EQ(optional.SizeOfHeapReserve, 0x100000u);
}

TEST_F(ImageTest, ImportsOnlySystemLibrariesAndNothingNewerThanVista) {
  const IMAGE_NT_HEADERS64 nt = Headers();
  const IMAGE_DATA_DIRECTORY imports =
      nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  ASSERT_GT(imports.Size, 0u);
  // Map the import directory's addresses to file offsets through the sections.
  const size_t sections = nt.FileHeader.NumberOfSections;
  const size_t first_section =
      At<IMAGE_DOS_HEADER>(image_, 0).e_lfanew + sizeof(IMAGE_NT_HEADERS64);
  auto file_offset = [&](DWORD address) -> size_t {
    for (size_t i = 0; i < sections; ++i) {
      const auto section = At<IMAGE_SECTION_HEADER>(
          image_, first_section + i * sizeof(IMAGE_SECTION_HEADER));
      if (address >= section.VirtualAddress &&
          address < section.VirtualAddress + section.Misc.VirtualSize)
        return address - section.VirtualAddress + section.PointerToRawData;
    }
    return 0;
  };
  auto text_at = [&](DWORD address) {
    return std::string(
        reinterpret_cast<const char*>(image_.data() + file_offset(address)));
  };
  std::set<std::string> libraries, functions;
  for (size_t offset = file_offset(imports.VirtualAddress);; offset += 20) {
    const auto descriptor = At<IMAGE_IMPORT_DESCRIPTOR>(image_, offset);
    if (descriptor.Name == 0) break;
    std::string library = text_at(descriptor.Name);
    for (char& c : library) c = static_cast<char>(toupper(c));
    libraries.insert(library);
    // Each entry names a function (hint, then name) unless it is an ordinal.
    for (size_t entry = file_offset(descriptor.OriginalFirstThunk);;
         entry += sizeof(ULONGLONG)) {
      const auto thunk = At<ULONGLONG>(image_, entry);
      if (thunk == 0) break;
      if (!(thunk & IMAGE_ORDINAL_FLAG64))
        functions.insert(text_at(static_cast<DWORD>(thunk) + sizeof(WORD)));
    }
  }
  EXPECT_EQ(libraries,
            (std::set<std::string>{"KERNEL32.DLL", "MSVCRT.DLL", "OLE32.DLL"}));
  // Windows 6.0 may lack these; importing one would stop the program from
  // starting there, so they are looked up at run time.
  EXPECT_GT(functions.count("GetProcAddress"), 0u);
  for (const char* newer :
       {"SetDefaultDllDirectories", "AddDllDirectory", "RemoveDllDirectory"}) {
    EXPECT_EQ(functions.count(newer), 0u) << newer;
  }
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR type, LPCSTR name, WORD language,
                              LONG_PTR resources) {
  reinterpret_cast<std::set<std::tuple<ULONG_PTR, ULONG_PTR, WORD>>*>(resources)
      ->insert({reinterpret_cast<ULONG_PTR>(type),
                reinterpret_cast<ULONG_PTR>(name), language});
  return TRUE;
}

BOOL CALLBACK CollectName(HMODULE module, LPCSTR type, LPSTR name,
                          LONG_PTR resources) {
  return EnumResourceLanguagesA(module, type, name, CollectLanguage, resources);
}

BOOL CALLBACK CollectType(HMODULE module, LPSTR type, LONG_PTR resources) {
  return EnumResourceNamesA(module, type, CollectName, resources);
}

TEST_F(ImageTest, CarriesExactlyIconVersionAndManifestInUsEnglish) {
  ASSERT_NE(module_, nullptr);
  std::set<std::tuple<ULONG_PTR, ULONG_PTR, WORD>> resources;
  EnumResourceTypesA(module_, CollectType,
                     reinterpret_cast<LONG_PTR>(&resources));
  const WORD us_english = 1033;
  auto id = [](LPCSTR value) { return reinterpret_cast<ULONG_PTR>(value); };
  EXPECT_EQ(resources, (std::set<std::tuple<ULONG_PTR, ULONG_PTR, WORD>>{
                           {id(RT_ICON), 1, us_english},
                           {id(RT_GROUP_ICON), 101, us_english},
                           {id(RT_VERSION), 1, us_english},
                           {id(RT_MANIFEST), 1, us_english},
                       }));
}

TEST_F(ImageTest, ManifestAsksForTheInvokersRightsAndNothingElse) {
  const std::vector<unsigned char> manifest = Resource(RT_MANIFEST, 1);
  std::string text(manifest.begin(), manifest.end());
  for (size_t cr; (cr = text.find('\r')) != std::string::npos;)
    text.erase(cr, 1);
  EXPECT_EQ(text,
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
            "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" "
            "manifestVersion=\"1.0\">\n"
            "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\n"
            "    <security>\n"
            "      <requestedPrivileges>\n"
            "        <requestedExecutionLevel level=\"asInvoker\" "
            "uiAccess=\"false\"/>\n"
            "      </requestedPrivileges>\n"
            "    </security>\n"
            "  </trustInfo>\n"
            "</assembly>\n");
}

TEST_F(ImageTest, VersionBlockAgreesOnOnePointZeroPointZeroPointOne) {
  const std::string path = KestrinePath();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\",
                             reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
  EXPECT_EQ(fixed->dwFileFlagsMask, 0x3Fu);
  EXPECT_EQ(fixed->dwFileFlags, 0u);
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(fixed->dwFileSubtype, 0u);
  EXPECT_EQ(fixed->dwFileDateMS, 0u);
  EXPECT_EQ(fixed->dwFileDateLS, 0u);

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 1200);
}

// Walks the raw version resource, which keeps the string table's keys in the
// order they were written.
TEST_F(ImageTest, VersionStringsStandInTheirOrder) {
  const std::vector<unsigned char> raw = Resource(RT_VERSION, 1);
  ASSERT_FALSE(raw.empty());
  struct Node {
    size_t length, value_length, type;
    std::string key;
    size_t value_offset, children_offset;
  };
  auto aligned = [](size_t offset) { return (offset + 3) & ~size_t{3}; };
  auto node_at = [&](size_t offset) {
    Node node;
    node.length = At<WORD>(raw, offset);
    node.value_length = At<WORD>(raw, offset + 2);
    node.type = At<WORD>(raw, offset + 4);
    const auto* key = reinterpret_cast<const wchar_t*>(raw.data() + offset + 6);
    const size_t key_length = wcsnlen(key, (raw.size() - offset - 6) / 2);
    node.key = Narrow(key, key_length);
    node.value_offset = aligned(offset + 6 + (key_length + 1) * 2);
    // Text values count characters, binary ones bytes.
    const size_t value_bytes =
        node.type == 1 ? node.value_length * 2 : node.value_length;
    node.children_offset = aligned(node.value_offset + value_bytes);
    return node;
  };
  auto children = [&](const Node& parent, size_t parent_offset) {
    std::vector<std::pair<size_t, Node>> found;
    for (size_t offset = parent.children_offset;
         offset < parent_offset + parent.length;) {
      const Node child = node_at(offset);
      if (child.length == 0) break;
      found.push_back({offset, child});
      offset = aligned(offset + child.length);
    }
    return found;
  };

  const Node root = node_at(0);
  ASSERT_EQ(root.key, "VS_VERSION_INFO");
  std::vector<std::pair<std::string, std::string>> strings;
  for (const auto& [offset, block] : children(root, 0)) {
    if (block.key != "StringFileInfo") continue;
    const auto tables = children(block, offset);
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].second.key, "040904b0");
    for (const auto& [unused, entry] :
         children(tables[0].second, tables[0].first)) {
      const auto* value =
          reinterpret_cast<const wchar_t*>(raw.data() + entry.value_offset);
      strings.push_back({entry.key, Narrow(value, entry.value_length)});
    }
  }
  ASSERT_EQ(strings.size(), 8u);
  // The maker's name and rights notice are ours to word; they must be there.
  EXPECT_FALSE(strings[0].second.empty());
  EXPECT_FALSE(strings[4].second.empty());
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"CompanyName", strings[0].second},
      {"FileDescription", "Gets or Sets Audio Volume Level"},
      {"FileVersion", "1.0.0.1"},
      {"InternalName", "Kestrine.exe"},
      {"LegalCopyright", strings[4].second},
      {"OriginalFilename", "Kestrine.exe"},
      {"ProductName", "Kestrine"},
      {"ProductVersion", "1.0.0.1"},
  };
  EXPECT_EQ(strings, expected);
}

TEST_F(ImageTest, IconIsOneSmoothBlackLoudspeakerBitmapOnTransparency) {
  const std::vector<unsigned char> group = Resource(RT_GROUP_ICON, 101);
  ASSERT_EQ(group.size(), 6u + 14u);
  EXPECT_EQ(At<WORD>(group, 0), 0);       // reserved
  EXPECT_EQ(At<WORD>(group, 2), 1);       // icon
  ASSERT_EQ(At<WORD>(group, 4), 1);       // one entry
  EXPECT_EQ(group[6], 128);               // width
  EXPECT_EQ(group[7], 128);               // height
  EXPECT_EQ(At<WORD>(group, 6 + 4), 1);   // planes
  EXPECT_EQ(At<WORD>(group, 6 + 6), 32);  // bits per pixel
  const DWORD bytes = At<DWORD>(group, 6 + 8);
  EXPECT_EQ(At<WORD>(group, 6 + 12), 1);  // icon 1

  const std::vector<unsigned char> icon = Resource(RT_ICON, 1);
  const size_t colour_bytes = 128 * 128 * 4, mask_bytes = 128 * 128 / 8;
  ASSERT_EQ(icon.size(), sizeof(BITMAPINFOHEADER) + colour_bytes + mask_bytes);
  EXPECT_EQ(bytes, icon.size());
  const auto header = At<BITMAPINFOHEADER>(icon, 0);
  EXPECT_EQ(header.biSize, sizeof(BITMAPINFOHEADER));  // a DIB, not a PNG
  EXPECT_EQ(header.biWidth, 128);
  EXPECT_EQ(header.biHeight, 256);  // colour and mask together
  EXPECT_EQ(header.biPlanes, 1);
  EXPECT_EQ(header.biBitCount, 32);
  EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));

  const unsigned char* pixels = icon.data() + sizeof(BITMAPINFOHEADER);
  const unsigned char* mask = pixels + colour_bytes;
  size_t transparent = 0, opaque = 0, partial = 0, left = 0, right = 0;
  for (int y = 0; y < 128; ++y) {
    for (int x = 0; x < 128; ++x) {
      const unsigned char* bgra = pixels + (y * 128 + x) * 4;
      const bool masked = mask[y * 16 + x / 8] & (0x80 >> (x % 8));
      const unsigned alpha = bgra[3];
      SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
      EXPECT_EQ(masked, alpha == 0);
      if (alpha > 0) {
        EXPECT_EQ(bgra[0] + bgra[1] + bgra[2], 0);  // black
        (x < 60 ? left : right) += 1;
      }
      if (alpha == 0)
        ++transparent;
      else if (alpha == 255)
        ++opaque;
      else
        ++partial;
      if (HasFatalFailure() || HasNonfatalFailure()) return;
    }
  }
  for (size_t corner : {0u, 127u, 127u * 128u, 128u * 128u - 1u}) {
    EXPECT_EQ(pixels[corner * 4 + 3], 0) << "corner " << corner;
  }
  EXPECT_GT(transparent, 128u * 128u / 2);  // a drawing on a clear ground
  EXPECT_GT(opaque, 128u * 128u / 8);       // that is solid,
  EXPECT_GT(partial, 128u);                 // with smoothed edges,
  EXPECT_GT(left, 1000u);                   // a speaker on the left
  EXPECT_GT(right, 1000u);                  // and waves on the right
}

}  // namespace
