"""The J2534 identifiers, flags and status codes this package uses."""

# Protocol identifiers.
CAN = 0x05

# Connect flags, TxFlags and RxStatus bits.
CAN_29BIT_ID = 0x100
CAN_ID_BOTH = 0x800
TX_MSG_TYPE = 0x01  # RxStatus: the loopback copy of a message this channel sent
START_OF_MESSAGE = 0x02  # RxStatus: an indication, no frame
TX_DONE = 0x08  # RxStatus: an indication that a message went out, no frame

# Filter types.
PASS_FILTER = 1
BLOCK_FILTER = 2
FLOW_CONTROL_FILTER = 3

# IOCTL identifiers and configuration parameters.
GET_CONFIG = 0x01
SET_CONFIG = 0x02
CLEAR_TX_BUFFER = 0x07
CLEAR_RX_BUFFER = 0x08
CLEAR_MSG_FILTERS = 0x0A
GET_TERM_RESISTOR = 0x00EF1001  # this device's own: the termination resistor's state
DATA_RATE = 0x01
LOOPBACK = 0x03

# Status codes, by value.
STATUS_NAMES = (
    "STATUS_NOERROR",
    "ERR_NOT_SUPPORTED",
    "ERR_INVALID_CHANNEL_ID",
    "ERR_INVALID_PROTOCOL_ID",
    "ERR_NULL_PARAMETER",
    "ERR_INVALID_IOCTL_VALUE",
    "ERR_INVALID_FLAGS",
    "ERR_FAILED",
    "ERR_DEVICE_NOT_CONNECTED",
    "ERR_TIMEOUT",
    "ERR_INVALID_MSG",
    "ERR_INVALID_TIME_INTERVAL",
    "ERR_EXCEEDED_LIMIT",
    "ERR_INVALID_MSG_ID",
    "ERR_DEVICE_IN_USE",
    "ERR_INVALID_IOCTL_ID",
    "ERR_BUFFER_EMPTY",
    "ERR_BUFFER_FULL",
    "ERR_BUFFER_OVERFLOW",
    "ERR_PIN_INVALID",
    "ERR_CHANNEL_IN_USE",
    "ERR_MSG_PROTOCOL_ID",
    "ERR_INVALID_FILTER_ID",
    "ERR_NO_FLOW_CONTROL",
    "ERR_NOT_UNIQUE",
    "ERR_INVALID_BAUDRATE",
    "ERR_INVALID_DEVICE_ID",
)
STATUS_NOERROR = 0x00
ERR_TIMEOUT = 0x09
ERR_BUFFER_EMPTY = 0x10
ERR_BUFFER_OVERFLOW = 0x12


def status_name(status: int) -> str:
    """The name of a status code, or its number in hex for one outside the list."""
    if 0 <= status < len(STATUS_NAMES):
        return STATUS_NAMES[status]
    return f"status 0x{status:X}"
