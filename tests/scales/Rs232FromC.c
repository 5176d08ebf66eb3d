/* Calls the serial port functions from C, as a C program would: the header must allow it. */
#include "rs232.h"

int OpenFromC(int comport_number, int baudrate, const char* mode) {
    return RS232_OpenComport(comport_number, baudrate, mode, 0);
}

int PortNumberFromC(const char* devname) {
    return RS232_GetPortnr(devname);
}
