#ifndef VELMORA_LASTCOMPONENT_H
#define VELMORA_LASTCOMPONENT_H

// The part of `path` after its last separator, or the whole of `path` when
// it has none. Walks whole characters, so the trail byte of a double-byte
// character is never taken for a separator.
const char* LastPathComponent(const char* path);

#endif
