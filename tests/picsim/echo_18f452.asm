; The bridge's test program: "R" once at reset, then every character back.
; "!" stalls the chip for about 5 ms without reading its receiver, as a
; flash write does, so characters sent meanwhile overrun its 2-character
; FIFO. SPBRG_VALUE sets the bit rate at 7.3728 MHz with BRGH=1:
; 3 = 115200, 47 = 9600.
    list p=18f452
    #include <p18f452.inc>
    config OSC=HS, WDT=OFF, LVP=OFF, PWRT=OFF, BOR=OFF
    #ifndef SPBRG_VALUE
    #define SPBRG_VALUE 3
    #endif
    org 0
    goto start
    org 0x40
start:
    movlw SPBRG_VALUE
    movwf SPBRG
    movlw 0x24              ; TXEN, BRGH
    movwf TXSTA
    movlw 0x90              ; SPEN, CREN
    movwf RCSTA
    bsf TRISC, 7
    bcf TRISC, 6
    movlw 'R'
    movwf TXREG
loop:
    btfsc PIR1, RCIF
    bra take
    btfsc RCSTA, OERR
    bra overrun
    bra loop
take:
    movf RCREG, W
    movwf 0x20
send:
    btfss PIR1, TXIF
    bra send
    movwf TXREG
    movlw '!'
    cpfseq 0x20
    bra loop
    ; 12 * 256 * 3 cycles = 9216 cycles, 5 ms at 1.8432 MHz
    movlw 12
    movwf 0x22
outer:
    clrf 0x21
inner:
    decfsz 0x21, F
    bra inner
    decfsz 0x22, F
    bra outer
    bra loop
overrun:
    bcf RCSTA, CREN
    bsf RCSTA, CREN
    bra loop
    end
