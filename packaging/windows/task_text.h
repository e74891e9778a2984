// The rewriting of a task definition's text for the folder it was installed
// into, by WriteTasksForFolder (write_tasks_for_folder.cpp). Plain code with no
// Windows call and no C++ runtime, so that the same lines are tested on Linux
// (tests/task_text_test.cpp), where wchar_t is wider but the logic the same.
#pragma once

namespace task_text {

inline int Length(const wchar_t *text)
{
    int n = 0;
    while (text[n]) ++n;
    return n;
}

inline bool StartsWith(const wchar_t *at, const wchar_t *prefix)
{
    while (*prefix && *at == *prefix) ++at, ++prefix;
    return *prefix == 0;
}

// FOLDER as XML text into OUT, which holds five times FOLDER's length and
// one: an ampersand is the one character a folder's name may hold that XML
// text must escape.
inline void EscapeForXml(const wchar_t *folder, wchar_t *out)
{
    for (; *folder; ++folder) {
        if (*folder == L'&') {
            for (const wchar_t *c = L"&amp;"; *c; ++c) *out++ = *c;
        } else {
            *out++ = *folder;
        }
    }
    *out = 0;
}

struct Rewritten {
    int length;     // the characters written to OUT, or -1 when OUT was too small
    int replaced;   // the mentions of FROM made TO
    bool names_to;  // TO was there already
};

// TEXT into OUT (CAPACITY characters, its closing NUL among them), every
// mention of FROM made TO, and every TO already there kept as it is. The
// longer of the two is looked for first: a folder below the default one
// (C:\Qmx\AWG10K\x86\) begins with the default, and a second run over a file
// already written for it (a repair keeps a changed file) must not make it
// ...\x86\x86\; a folder above it (C:\Qmx\) is the start of every default
// mention, which must still be replaced.
inline Rewritten Rewrite(const wchar_t *text, const wchar_t *from, const wchar_t *to, wchar_t *out, int capacity)
{
    const int from_length = Length(from), to_length = Length(to);
    const bool to_first = to_length >= from_length;
    Rewritten r{0, 0, false};
    for (const wchar_t *at = text; *at;) {
        if (r.length + to_length + 1 >= capacity) return Rewritten{-1, r.replaced, r.names_to};
        const bool is_to = StartsWith(at, to);
        if (is_to && (to_first || !StartsWith(at, from))) {
            for (int i = 0; i < to_length; ++i) out[r.length++] = *at++;
            r.names_to = true;
        } else if (StartsWith(at, from)) {
            for (int i = 0; i < to_length; ++i) out[r.length++] = to[i];
            at += from_length;
            ++r.replaced;
        } else {
            out[r.length++] = *at++;
        }
    }
    out[r.length] = 0;
    return r;
}

}  // namespace task_text
