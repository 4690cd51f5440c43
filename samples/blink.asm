; A small PIC18F4550 program: toggles RB0 in a busy loop. It starts above the bootloader
; (0x800) and carries its configuration words, so its HEX file has extended linear address
; records for both the program memory and the configuration space at 0x300000.
        include <p18f4550.inc>

        config  FOSC = HS, WDT = OFF, LVP = OFF, PBADEN = OFF

        org     0x800
start:
        clrf    TRISB, ACCESS
        clrf    LATB, ACCESS
loop:
        btg     LATB, 0, ACCESS
        call    pause
        bra     loop

pause:
        movlw   0xFF
        movwf   0x20, ACCESS
again:
        decfsz  0x20, f, ACCESS
        bra     again
        return

        end
