// Dialog resource 100 as QEBEvent.exe carries it (English, United States):
// the countdown dialog's template, field by field.
#include <windows.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Reader {
    const BYTE* p;
    const BYTE* end;
    bool ok = true;
    template <typename T>
    T Read() {
        T value{};
        if (p + sizeof(T) > end) {
            ok = false;
            return value;
        }
        memcpy(&value, p, sizeof(T));
        p += sizeof(T);
        return value;
    }
    // sz_Or_Ord: an ordinal as "#n", a string as itself.
    std::string Name() {
        WORD first = Read<WORD>();
        if (first == 0xFFFF) return "#" + std::to_string(Read<WORD>());
        std::string s;
        for (WORD c = first; ok && c != 0; c = Read<WORD>()) s += static_cast<char>(c);
        return s;
    }
    void AlignDword(const BYTE* base) {
        while ((p - base) % 4 != 0) ++p;
    }
};

struct Item {
    DWORD exStyle, style;
    short x, y, cx, cy;
    int id;
    std::string className, title;
};

class DialogResourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring exe(path);
        exe = exe.substr(0, exe.find_last_of(L'\\') + 1) + L"QEBEvent.exe";
        module_ = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module_) << "QEBEvent.exe not loadable, error " << GetLastError();
        HRSRC found = FindResourceExW(module_, RT_DIALOG, MAKEINTRESOURCEW(100), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
        ASSERT_NE(nullptr, found) << "no English (US) dialog 100";
        base_ = static_cast<const BYTE*>(LockResource(LoadResource(module_, found)));
        size_ = SizeofResource(module_, found);
        ASSERT_NE(nullptr, base_);
    }
    void TearDown() override {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    HMODULE module_ = nullptr;
    const BYTE* base_ = nullptr;
    DWORD size_ = 0;
};

TEST_F(DialogResourceTest, MatchesTheCountdownTemplate) {
    Reader r{base_, base_ + size_};
    EXPECT_EQ(1, r.Read<WORD>()) << "dlgVer";
    EXPECT_EQ(0xFFFF, r.Read<WORD>()) << "not a DIALOGEX";
    r.Read<DWORD>();  // help id
    EXPECT_EQ(static_cast<DWORD>(WS_EX_TOPMOST), r.Read<DWORD>()) << "extended style";
    EXPECT_EQ(0x800008CAu, r.Read<DWORD>()) << "style";
    const WORD items = r.Read<WORD>();
    EXPECT_EQ(3, items);
    EXPECT_EQ(0, r.Read<short>());
    EXPECT_EQ(0, r.Read<short>());
    EXPECT_EQ(269, r.Read<short>());
    EXPECT_EQ(49, r.Read<short>());
    EXPECT_EQ("", r.Name()) << "menu";
    EXPECT_EQ("", r.Name()) << "class";
    EXPECT_EQ("", r.Name()) << "caption";
    EXPECT_EQ(8, r.Read<WORD>()) << "font size";
    r.Read<WORD>();  // weight
    r.Read<BYTE>();  // italic
    r.Read<BYTE>();  // charset
    EXPECT_EQ("MS Shell Dlg", r.Name());

    std::vector<Item> got;
    for (WORD i = 0; i < items && r.ok; ++i) {
        r.AlignDword(base_);
        Item item;
        r.Read<DWORD>();  // help id
        item.exStyle = r.Read<DWORD>();
        item.style = r.Read<DWORD>();
        item.x = r.Read<short>();
        item.y = r.Read<short>();
        item.cx = r.Read<short>();
        item.cy = r.Read<short>();
        item.id = static_cast<int>(r.Read<DWORD>());
        item.className = r.Name();
        item.title = r.Name();
        WORD extra = r.Read<WORD>();
        r.p += extra;
        got.push_back(item);
    }
    ASSERT_TRUE(r.ok) << "template truncated";
    ASSERT_EQ(3u, got.size());
    const DWORD kChild = WS_CHILD | WS_VISIBLE;
    struct Expected {
        int id;
        const char* className;
        const char* title;
        DWORD style;
        short x, y, cx, cy;
    } expected[] = {
        {IDOK, "BUTTON", "OK", kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 212, 28, 50, 14},
        {101, "STATIC", "System will hibernate after 5 seconds.", kChild | SS_CENTER | WS_GROUP, 7, 7, 255, 8},
        {-1, "STATIC", "", kChild | SS_SUNKEN | WS_GROUP, 7, 21, 255, 1},
    };
    for (size_t i = 0; i < 3; ++i) {
        // Predefined classes may be stored by atom: 0x80 button, 0x82 static.
        std::string cls = got[i].className == "#128" ? "BUTTON" : got[i].className == "#130" ? "STATIC" : got[i].className;
        for (auto& c : cls) c = static_cast<char>(toupper(c));
        EXPECT_EQ(expected[i].id, got[i].id) << "control " << i;
        EXPECT_EQ(expected[i].className, cls) << "control " << i;
        EXPECT_EQ(expected[i].title, got[i].title) << "control " << i;
        EXPECT_EQ(expected[i].style, got[i].style) << "control " << i << " style 0x" << std::hex << got[i].style;
        EXPECT_EQ(0u, got[i].exStyle) << "control " << i;
        EXPECT_EQ(expected[i].x, got[i].x) << "control " << i;
        EXPECT_EQ(expected[i].y, got[i].y) << "control " << i;
        EXPECT_EQ(expected[i].cx, got[i].cx) << "control " << i;
        EXPECT_EQ(expected[i].cy, got[i].cy) << "control " << i;
    }
}

}  // namespace
