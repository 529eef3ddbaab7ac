# Datagrams of 1400 bytes to 127.0.0.1:9 for SECONDS, one every GAP seconds: steady
# loopback traffic for the end-to-end tests.
#   python3 loopback_datagrams.py SECONDS GAP
import socket
import sys
import time

seconds, gap = float(sys.argv[1]), float(sys.argv[2])
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
end = time.time() + seconds
while time.time() < end:
    s.sendto(b"x" * 1400, ("127.0.0.1", 9))
    time.sleep(gap)
