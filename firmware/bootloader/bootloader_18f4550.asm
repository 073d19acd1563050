; bootloader_18f4550.asm - the Vantrel serial bootloader for the PIC18F4550.
;
; Memory map (program memory, byte addresses; chip_18f4550.inc has the detail):
;   0x000000-0x000003  GOTO 0x007800: the reset vector stays the bootloader's
;   0x000004-0x0077FF  the application (built at 0x0000 like any other; its
;                      bytes 0-3 are kept in the settings row)
;   0x007800-0x007FBF  the bootloader
;   0x007FC0-0x007FFF  settings: kept bytes 0-3, GOTO 0x000004, valid mark,
;                      Modbus address
;   0xF00000-0xF000FF  data EEPROM (in HEX files)
; Clock 20 MHz (HS, no PLL), 8N1 at BAUD (115200, +0.94 %).
;
; Protocol (each command and reply ends in CR LF):
;   BOOTi              VER=<version> <chip>
;   BOOT: + record     OK / DOWNLOAD (end of file) / FORMAT / ERROR
;   BOOT# + record     OK / DOWNLOAD (end of file) / FORMAT / ERROR
;   BOOTg              none; a valid application starts
;   BOOT$hh            ADR=hh / FORMAT
;   other BOOT...      FORMAT
;   anything else      none

#define BOOT_VERSION "1.00"
        #include "chip_18f4550.inc"
        #include "boot_constants.inc"
        #include "boot_ram.inc"
        #include "boot_main.inc"
        #include "line_input.inc"
        #include "reply.inc"
        #include "hex_record.inc"
        #include "flash_write.inc"
        #include "settings.inc"
        #include "boot_image.inc"
        end
