/* The device's C runtime start-up, without the part the device files do not need.
 *
 * The toolchain's start-up code calls _pei386_runtime_relocator, which patches
 * data a program imports from a DLL without declaring it so. The device
 * files import no data at all: they link with --disable-auto-import, which
 * makes any such import a link error, so the relocator has nothing to
 * patch. Its own version is left out by this empty one, and with it the
 * runtime's assert, whose message conversion imports mbstowcs, a function
 * Windows CE 4.20's reference does not document. */
void _pei386_runtime_relocator(void);

void _pei386_runtime_relocator(void) {}
