/* What ValtroveCtrl.ocx declares about itself beyond its type library: the class's registration
 * data, the file's version and the side-by-side assembly's identity. One source for the
 * registration code, the version resource and make_manifest.py, which reads the lines below:
 * keep them plain "#define VTC_NAME value" lines, each value a string literal or an integer. */
#ifndef VTC_REGISTRATION_FACTS_H
#define VTC_REGISTRATION_FACTS_H

#define VTC_FILE_NAME "ValtroveCtrl.ocx"
#define VTC_PROGID "ValtroveCTL.Valtrove"
#define VTC_THREADING_MODEL "Apartment"
/* Miscellaneous status of the content aspect; the default (every other aspect) is 0. */
#define VTC_MISC_STATUS_CONTENT 0x20591
#define VTC_TOOLBOX_BITMAP 30000

/* File version 57.0.0.41, also the version of the side-by-side assembly "ValtroveCtrl". */
#define VTC_VERSION_MAJOR 57
#define VTC_VERSION_MINOR 0
#define VTC_VERSION_BUILD 0
#define VTC_VERSION_REVISION 41
#define VTC_VERSION_TEXT "57.00.0041"
#define VTC_ASSEMBLY_NAME "ValtroveCtrl"

#endif
