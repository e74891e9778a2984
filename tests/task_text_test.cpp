// The installer's rewriting of a task definition for its folder, the same
// lines the custom step runs, on made-up task text.
#include <gtest/gtest.h>

#include <string>

#include "layout.h"
#include "task_text.h"

namespace {

const wchar_t kDefault[] = WIDE(LAYOUT_DEFAULT_FOLDER);
const std::wstring kShipped =
    L"\xfeff<Command>%SystemRoot%\\System32\\cmd.exe</Command>"
    L"<Arguments>/c \"\"C:\\Qmx\\AWG10K\\run-minute-trigger.cmd\"\"</Arguments><!-- C:\\Qmx\\AWG10K\\ -->";

// TEXT written for FOLDER (escaped as the step does), or "too long".
std::wstring For(const std::wstring &folder, const std::wstring &text, int capacity = 4096)
{
    wchar_t escaped[512], out[4096];
    task_text::EscapeForXml(folder.c_str(), escaped);
    const task_text::Rewritten r = task_text::Rewrite(text.c_str(), kDefault, escaped, out, capacity);
    return r.length < 0 ? L"too long" : std::wstring(out, r.length);
}

std::wstring Expected(const std::wstring &folder)
{
    std::wstring text = kShipped;
    for (size_t at = 0; (at = text.find(kDefault, at)) != std::wstring::npos; at += folder.size())
        text.replace(at, wcslen(kDefault), folder);
    return text;
}

// A repair keeps a task file already written (Windows Installer keeps a
// changed unversioned file), so the step runs over its own output: a folder
// below the default one (...\x86\) was made ...\x86\x86\, and the task
// started nothing.
TEST(TaskText, EachFolderWrittenOnceAndASecondRunChangesNothing)
{
    for (const std::wstring folder :
         {L"C:\\Lab\\Dev AWG\\", L"C:\\Qmx\\AWG10K\\x86\\", L"C:\\Qmx\\", L"C:\\Qmx\\AWG10K\\"}) {
        const std::wstring once = For(folder, kShipped);
        EXPECT_EQ(once, Expected(folder)) << folder;
        EXPECT_EQ(For(folder, once), once) << folder;
    }
}

TEST(TaskText, AnAmpersandEscapedAndKeptOnASecondRun)
{
    const std::wstring once = For(L"C:\\R&D\\", kShipped);
    EXPECT_EQ(once, Expected(L"C:\\R&amp;D\\"));
    EXPECT_EQ(For(L"C:\\R&D\\", once), once);
}

TEST(TaskText, TellsWhatItFoundAndRefusesTooLittleRoom)
{
    wchar_t out[4096];
    const wchar_t to[] = L"C:\\Qmx\\AWG10K\\x86\\";
    task_text::Rewritten r = task_text::Rewrite(kShipped.c_str(), kDefault, to, out, 4096);
    EXPECT_EQ(r.replaced, 2);
    EXPECT_FALSE(r.names_to);
    r = task_text::Rewrite(out, kDefault, to, out + 2048, 2048);
    EXPECT_EQ(r.replaced, 0);
    EXPECT_TRUE(r.names_to);
    r = task_text::Rewrite(L"<Task/>", kDefault, to, out, 4096);
    EXPECT_EQ(r.replaced, 0);
    EXPECT_FALSE(r.names_to);
    // Room for all but the closing NUL is too little: never a text cut short.
    const int needed = static_cast<int>(Expected(to).size()) + 1;
    EXPECT_EQ(For(to, kShipped, needed - 1), L"too long");
    EXPECT_EQ(For(to, kShipped, needed + static_cast<int>(wcslen(to))), Expected(to));
}

}  // namespace
