"""python-can's receive filters, as J2534 pass filters."""

from typing import List, NamedTuple, Optional, Sequence

from .constants import CAN_29BIT_ID

MASK_11 = 0x7FF
MASK_29 = 0x1FFFFFFF
MAX_FILTERS = 10  # pass filters a channel must take at least


class PassFilter(NamedTuple):
    """One J2534 pass filter: a frame passes when its identifier AND mask equals pattern."""

    mask: int
    pattern: int
    extended: bool

    @property
    def tx_flags(self) -> int:
        return CAN_29BIT_ID if self.extended else 0

    def mask_bytes(self) -> bytes:
        return self.mask.to_bytes(4, "big")

    def pattern_bytes(self) -> bytes:
        return self.pattern.to_bytes(4, "big")


# A J2534 filter applies to one identifier width; with none set nothing at all is received.
PASS_ALL = [PassFilter(0, 0, False), PassFilter(0, 0, True)]


def pass_filters(filters: Optional[Sequence[dict]]) -> Optional[List[PassFilter]]:
    """The pass filters that admit what python-can's filters match.

    None or no filters: everything, one filter for each identifier width. A filter without
    "extended" matches both widths, so it becomes two, but no 11-bit identifier can match one
    that asks for bits above the eleventh. None when that makes more filters than a channel is
    sure to take: the caller then passes everything and filters itself.
    """
    if not filters:
        return list(PASS_ALL)
    result: List[PassFilter] = []
    for can_filter in filters:
        widths = [can_filter["extended"]] if "extended" in can_filter else [False, True]
        for extended in widths:
            wanted = can_filter["can_id"] & can_filter["can_mask"]
            width = MASK_29 if extended else MASK_11
            if wanted & ~width:
                continue
            mask = can_filter["can_mask"] & width
            result.append(PassFilter(mask, wanted & mask, bool(extended)))
    return result if len(result) <= MAX_FILTERS else None
