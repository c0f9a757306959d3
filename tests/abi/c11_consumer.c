/* A host written in C11: reads the version and the default dialog title in
 * German through the installed library and its language module. */
#include <stdio.h>
#include <string.h>

#include <zorbel.h>
#include <zorbelcomm.h>
#include <zorbelutil.h>

int main(void) {
    uint32_t major = 0, minor = 0, build = 0;
    if (ZORBELUGetLibVer(&major, &minor, &build) != ZORBELU_OK) return 1;
    printf("%u %u %u\n", major, minor, build);
    if (ZORBELUSetLanguage("DEU") != ZORBELU_OK) return 2;
    printf("%s\n", ZORBELUPRVGetVerifiedDlgTitle());
    return 0;
}
