; LED blinker for a PIC18F4620 at 8 MHz (internal oscillator).
; Toggles RB0 about twice a second. Small enough to load in about a dozen
; lines, and its configuration words sit at 0x300000, so the HEX file also
; carries an extended linear address record.

        list    p=18f4620
        errorlevel -302                 ; bank bits are set by the access flag
        #include <p18f4620.inc>

        config  OSC = INTIO67, FCMEN = OFF, IESO = OFF
        config  PWRT = ON, BOREN = OFF, WDT = OFF, MCLRE = ON
        config  PBADEN = OFF, LVP = OFF, XINST = OFF, STVREN = ON

        cblock  0x000
            d1, d2, d3
        endc

        org     0x0000
reset_vector:
        goto    start

        org     0x0008
high_isr:
        retfie  FAST

        org     0x0018
low_isr:
        retfie

        org     0x0040
start:
        movlw   b'01110010'             ; internal oscillator at 8 MHz
        movwf   OSCCON, A
        movlw   0x0F                    ; all pins digital
        movwf   ADCON1, A
        clrf    LATB, A
        bcf     TRISB, 0, A               ; RB0 drives the LED

main_loop:
        btg     LATB, 0, A
        rcall   delay_250ms
        bra     main_loop

; About 250 ms at 2 MIPS: 3 nested countdown loops.
delay_250ms:
        movlw   d'3'
        movwf   d3, A
outer:
        movlw   d'200'
        movwf   d2, A
middle:
        movlw   d'255'
        movwf   d1, A
inner:
        decfsz  d1, F, A
        bra     inner
        decfsz  d2, F, A
        bra     middle
        decfsz  d3, F, A
        bra     outer
        return

        end
