// Who may reach a file: its owner, group, permissions, access control lists
// and the other extended attributes, handed from a file to the stage that
// replaces it.
#pragma once

#include <sys/stat.h>

// Gives `stage` exactly the access of `old` (described by `st`): the owner,
// group and permissions (set-user and set-group bits aside), and every
// extended attribute of `old`, its access control lists among them, in
// place of any the stage has of its own. Attributes that must not pass to
// new content (security.capability, security.ima, security.evm) are left
// out, as the set-id bits are. False when any of it could not be carried
// over: the stage must then not take the file's place.
bool give_access(int stage, int old, const struct stat& st);
