/* The fixed facts of ValtroveCtrl.ocx: the class's registration data, the dispatch ids of its
 * automation interface, the file's version and the side-by-side assembly's identity, and (for C++)
 * the same facts typed, with the automation errors the objects raise. One source for the type
 * library (ValtroveCtrl.idl takes the dispatch ids and the help text from here), the registration
 * code, the objects, the version resource and make_manifest.py, which reads the lines below: keep
 * them plain "#define VTC_NAME value" lines, each value a string literal or an integer. */
#ifndef VTC_CONTROL_FACTS_H
#define VTC_CONTROL_FACTS_H

#define VTC_FILE_NAME "ValtroveCtrl.ocx"
#define VTC_PROGID "ValtroveCTL.Valtrove"
#define VTC_THREADING_MODEL "Apartment"
/* The type library's help text, also the default value of its registry key. */
#define VTC_LIBRARY_HELP "Data Retrieval Control"
/* Miscellaneous status of the content aspect; the default (every other aspect) is 0. */
#define VTC_MISC_STATUS_CONTENT 0x20591
#define VTC_TOOLBOX_BITMAP 30000
/* DataFile as a new instance has it. */
#define VTC_DEFAULT_DATA_FILE "*.txt"

/* Dispatch ids of _Valtrove. They are fixed: hosts bind to them. */
#define VTC_DISPID_ALL_DATA 0x40030000
#define VTC_DISPID_VALUE_LIST 0x40030001
#define VTC_DISPID_NEW_VALUE_DATA 0x40030002
#define VTC_DISPID_AUTOMATIC_REWRITE 0x68030000
#define VTC_DISPID_DATA_FILE 0x68030001
#define VTC_DISPID_ENABLED 0x68030002
#define VTC_DISPID_CLEAR_ALL 0x60030003
#define VTC_DISPID_ADD_DATA_VALUE 0x60030004
#define VTC_DISPID_REWRITE_DATA_VALUE 0x60030005
#define VTC_DISPID_REMOVE_DATA_VALUE 0x60030006
#define VTC_DISPID_GET_DATA_VALUES 0x60030007

/* File version 57.0.0.41, also the version of the side-by-side assembly "ValtroveCtrl". */
#define VTC_VERSION_MAJOR 57
#define VTC_VERSION_MINOR 0
#define VTC_VERSION_BUILD 0
#define VTC_VERSION_REVISION 41
#define VTC_VERSION_TEXT "57.00.0041"
#define VTC_ASSEMBLY_NAME "ValtroveCtrl"

#ifdef __cplusplus
#include <windows.h>
#include <oaidl.h>
#include <olectl.h>

#include <string_view>

namespace vtc {

inline constexpr wchar_t kProgId[] = L"" VTC_PROGID;
inline constexpr wchar_t kDefaultDataFile[] = L"" VTC_DEFAULT_DATA_FILE;
inline constexpr int kToolboxBitmap = VTC_TOOLBOX_BITMAP;

// The control's fixed size whatever a container asks: 480 by 480 twips, also in HIMETRIC
// (0.01 mm).
inline constexpr int kSizeTwips = 480;
inline constexpr LONG kSizeHimetric = (kSizeTwips * 2540 + 720) / 1440;

// Set client site first, invisible at run time, activate when visible, inside-out, cannot link
// inside, recompose on resize.
inline constexpr DWORD kMiscStatusContent = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_INVISIBLEATRUNTIME |
                                            OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT | OLEMISC_CANTLINKINSIDE |
                                            OLEMISC_RECOMPOSEONRESIZE;
static_assert(kMiscStatusContent == VTC_MISC_STATUS_CONTENT);

// The persisted properties, whose changes the container hears of by these ids.
namespace dispid {
inline constexpr DISPID automaticRewrite = VTC_DISPID_AUTOMATIC_REWRITE;
inline constexpr DISPID dataFile = VTC_DISPID_DATA_FILE;
inline constexpr DISPID enabled = VTC_DISPID_ENABLED;
} // namespace dispid

// An automation error the objects raise themselves (the value store raises its own): the host sees
// HRESULT 0x800A0000 | number with the description.
struct AutomationError {
    int number;
    std::string_view description;
};

namespace automationError {
inline constexpr AutomationError invalidArgument{5, "Invalid procedure call or argument"};
inline constexpr AutomationError outOfMemory{7, "Out of memory"};
inline constexpr AutomationError subscriptOutOfRange{9, "Subscript out of range"};
inline constexpr AutomationError typeMismatch{13, "Type mismatch"};
inline constexpr AutomationError invalidUseOfNull{94, "Invalid use of Null"};
inline constexpr AutomationError duplicateKey{457, "This key is already associated with an element of this collection"};
} // namespace automationError

} // namespace vtc
#endif

#endif
