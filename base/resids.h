#ifndef BASE_RESIDS_H
#define BASE_RESIDS_H

// Resource identifiers shared by the installer's code, its resource scripts
// and the tools that write or read an installer's resources. Plain #defines,
// because resource compilers read this header too.

// String table entries, each optional: the HTTP base URL, the FTP base URL
// and the digest name of the setup description.
#define IDS_HTTP_BASE 121
#define IDS_FTP_BASE 122
#define IDS_DESCRIPTION_NAME 123

// The dialog templates, named by text: the destination folder dialog and
// the status window. Their resource scripts (setup/dialogs.rc,
// gui/win32/trivstatuswin.rc) give the same names.
#define DIR_DIALOG_NAME "DIR_DIALOG"
#define STATUS_DIALOG_NAME "STATUS_DIALOG"

// The type of the data resources (the carried files and the description),
// named by their upper-case digest names; the system's RT_RCDATA.
#define DATA_RESOURCE_TYPE 10
// The updater's configuration besides the base URLs (which it takes from
// entries 121 and 122, as the installer does): resources of that type
// under these names, which no digest name is as short as. The product
// name holds the T line's bytes as the description has them, without a
// terminating zero; the key's form is in setup/updaterules.h. The
// licences are the digest names of the licences that the description the
// updater came with shows, one after the other without separators.
#define UPDATE_PRODUCT_NAME "UPDATEPRODUCT"
#define UPDATE_KEY_NAME "UPDATEKEY"
#define UPDATE_LICENCES_NAME "UPDATELICENCES"

// Controls of DIR_DIALOG, the destination folder dialog.
#define IDC_FOLDER_FIELD 100
#define IDC_BROWSE 101
#define IDC_FOLDER_PROMPT 109

// Controls of STATUS_DIALOG, the status window.
#define IDC_STATUS_TEXT 101

#endif
