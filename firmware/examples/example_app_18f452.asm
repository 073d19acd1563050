; example_app_18f452.asm - an application for the Vantrel bootloader on the
; PIC18F452, built at 0x0000 like any application (nothing special in it).
;
; Memory map: 0x0000 GOTO main (the bootloader keeps these four bytes and
; starts the application through them), 0x0008 the interrupt vector (Timer1,
; the blink), 0x0018 the low-priority vector (unused), code behind. RAM 0x000-
; 0x00F. Its configuration words are dropped by the bootloader, which keeps
; its own (the same clock).
;
; Protocol (8N1 at the bootloader's rate, lines end in CR LF):
;   VER                VER=EXAMPLE APP 1.00, once the timer interrupt has run
;                      (so the answer proves the vectors stayed the application's)
;   BOOT...            back to the bootloader, which takes the command whole
;   anything else      none
; RB0 blinks at about 3.5 Hz from the Timer1 interrupt.

        #include "chip_18f452.inc"
        #include "boot_constants.inc"

TICKS_PER_TOGGLE equ    8               ; Timer1 overflows (28 per second) per LED change

        cblock  0x000
        A_FLAGS                         ; bit 0: the interrupt has run
        A_TICKS                         ; overflows until the LED changes
        A_N                             ; bytes of the line so far
        A_CH
        A_LINE:5                        ; the line's first five bytes
        endc

        org     0x0000
        goto    main

        org     0x0008
        goto    isr

        org     0x0018
        retfie

; isr: Timer1 overflow; toggles RB0 every TICKS_PER_TOGGLE overflows.
isr:
        bcf     PIR1, TMR1IF
        bsf     A_FLAGS, 0
        decfsz  A_TICKS, F
        retfie  FAST
        movlw   TICKS_PER_TOGGLE
        movwf   A_TICKS
        btg     LATB, 0
        retfie  FAST

main:
        clrf    A_FLAGS
        clrf    A_N
        movlw   TICKS_PER_TOGGLE
        movwf   A_TICKS
        bcf     TRISB, 0
        movlw   low(BAUD_N)
        movwf   SPBRG
        movlw   (1<<TXEN) | (1<<BRGH)
        movwf   TXSTA
        movlw   (1<<SPEN) | (1<<CREN)
        movwf   RCSTA
        clrf    TMR1H
        clrf    TMR1L
        movlw   (1<<TMR1ON)             ; Fosc/4, 1:1
        movwf   T1CON
        bsf     PIE1, TMR1IE
        bsf     INTCON, PEIE
        bsf     INTCON, GIE
loop:
        btfsc   RCSTA, OERR
        bra     overrun
        btfss   PIR1, RCIF
        bra     loop
        movff   RCREG, A_CH
        movlw   5                       ; keep the first five bytes
        cpfslt  A_N
        bra     counted
        lfsr    FSR0, A_LINE
        movf    A_N, W
        movff   A_CH, PLUSW0
counted:
        incf    A_N, F
        movlw   4                       ; "BOOT" at the start of a line
        cpfseq  A_N
        bra     line_end
        lfsr    FSR0, A_LINE
        movlw   'B'
        cpfseq  POSTINC0
        bra     line_end
        movlw   'O'
        cpfseq  POSTINC0
        bra     line_end
        cpfseq  POSTINC0
        bra     line_end
        movlw   'T'
        cpfseq  POSTINC0
        bra     line_end
        clrf    INTCON                  ; the bootloader takes the rest of the command
        goto    BOOT_START + 4
line_end:
        movlw   0x0A
        cpfseq  A_CH
        bra     loop
        movlw   5                       ; "VER" CR LF
        cpfseq  A_N
        bra     next_line
        lfsr    FSR0, A_LINE
        movlw   'V'
        cpfseq  POSTINC0
        bra     next_line
        movlw   'E'
        cpfseq  POSTINC0
        bra     next_line
        movlw   'R'
        cpfseq  POSTINC0
        bra     next_line
        movlw   0x0D
        cpfseq  POSTINC0
        bra     next_line
        btfsc   A_FLAGS, 0
        rcall   send_version
next_line:
        clrf    A_N
        bra     loop
overrun:
        bcf     RCSTA, CREN
        bsf     RCSTA, CREN
        clrf    A_N
        bra     loop

; send_version: the version reply. Clobbers W, TBLPTR, TABLAT.
send_version:
        movlw   upper(version)
        movwf   TBLPTRU
        movlw   high(version)
        movwf   TBLPTRH
        movlw   low(version)
        movwf   TBLPTRL
sv_next:
        tblrd*+
        movf    TABLAT, W
        bz      sv_end
sv_wait:
        btfss   PIR1, TXIF
        bra     sv_wait
        movwf   TXREG
        bra     sv_next
sv_end:
        return

version:
        db      "VER=EXAMPLE APP 1.00", 0x0D, 0x0A, 0

        BOOT_CONFIG
        end
