/* norvisk.h compiles as strict C89 (the build fails otherwise); nothing here runs. */
#include "norvisk.h"

int norvisk_header_c89_check(void);
int norvisk_header_c89_check(void) {
  norvisk_format format = NORVISK_FORMAT_JPEG;
  return (int)format + NORVISK_OK + NORVISK_VERSION_NUMBER;
}
