#include "cli/syntax.h"

#include "shortname/lastcomponent.h"

// The screen is the one place that lists the options; keep it in step with
// ScanOptions.
void ShowSyntax(std::FILE* out, const char* programName)
{
    std::fputs("\n\nVelmora [Version 1.00]\n\n", out);
    std::fputs("\n Sets the 8.3 SFN (Short File Name) for the specified file or folder."
               "\n Requires Windows XP or later."
               "\n\n", out);
    std::fputs("\n Syntax: ", out);
    std::fputs(LastPathComponent(programName), out);
    std::fputs(" /F:filename [/SFN:shortname] [/Y]\n", out);
    std::fputs("\n /F:\tSpecifies an existing file or folder to modify."
               "\n /SFN:\tSpecifies the new short name.  Must be a valid 8.3 format name."
               "\n /Y\tSuppresses the 'Are you sure' prompt."
               "\n", out);
    std::fprintf(out, "\n /? or -? displays this syntax and always returns 1."
                      "\n A successful completion returns %d.\n\n", 0);
    std::fputs("\n Velmora is free software from the Velmora project; it comes with no warranty.\n", out);
}
