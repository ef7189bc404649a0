/* Version of the resource libraries, shared by every language. */
#ifndef ZYN_RESOURCES_VERSION_H
#define ZYN_RESOURCES_VERSION_H

#define ZYN_VERSION_NUMBERS 1, 0, 0, 0
#define ZYN_VERSION_TEXT "1.0"
#define ZYN_COPYRIGHT_YEAR "2026"

#endif
