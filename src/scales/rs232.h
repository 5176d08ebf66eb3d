/* Serial terminals addressed by port number: raw non-blocking I/O, modem lines and an exclusive
 * lock on the device. Every function returns 0 on success unless it says otherwise. */
#ifndef STATION_RS232_H
#define STATION_RS232_H

#ifdef __cplusplus
extern "C" {
#endif

/* Number of entries in the port table; valid port numbers are 0 to RS232_PORTNR - 1. */
#define RS232_PORTNR 39

/* Opens, locks and configures a port; 1 on failure, after printing the reason. */
int RS232_OpenComport(int comport_number, int baudrate, const char* mode, int flowctrl);
/* Bytes read (at most size), 0 if none were waiting, -1 on a read error. Never waits. */
int RS232_PollComport(int comport_number, unsigned char* buf, int size);
/* 0 if written or dropped because the output queue is full, 1 on a write error. */
int RS232_SendByte(int comport_number, unsigned char byte);
/* Bytes written, 0 if the output queue is full, -1 on a write error. */
int RS232_SendBuf(int comport_number, unsigned char* buf, int size);
void RS232_CloseComport(int comport_number);
void RS232_cputs(int comport_number, const char* text);
int RS232_IsDCDEnabled(int comport_number);
int RS232_IsRINGEnabled(int comport_number);
int RS232_IsCTSEnabled(int comport_number);
int RS232_IsDSREnabled(int comport_number);
void RS232_enableDTR(int comport_number);
void RS232_disableDTR(int comport_number);
void RS232_enableRTS(int comport_number);
void RS232_disableRTS(int comport_number);
void RS232_flushRX(int comport_number);
void RS232_flushTX(int comport_number);
void RS232_flushRXTX(int comport_number);
/* Port number of "/dev/" followed by the first 16 characters of devname, or -1. */
int RS232_GetPortnr(const char* devname);

#ifdef __cplusplus
}
#endif

#endif
