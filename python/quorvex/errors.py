"""The exceptions of the package."""

from __future__ import annotations

from ._library import LibraryNotFoundError, status_message, status_name

__all__ = ["QuorvexError", "LatchedError", "CaptureError", "ReadTimeout", "LibraryNotFoundError"]


class QuorvexError(Exception):
    """A call of the library that failed.

    ``code`` is the status (1 failure or latched card, 2 argument out of
    range), ``call`` the C function's name, ``card`` the card number (None for
    calls without one), ``name`` and ``message`` the status's entry of the
    library's status table."""

    def __init__(self, code: int, call: str, card: int | None = None, detail: str = "") -> None:
        self.code = code
        self.call = call
        self.card = card
        self.name = status_name(code)
        self.message = status_message(code)
        self.detail = detail
        where = f" on card {card}" if card is not None else ""
        name = f" ({self.name})" if self.name else ""
        text = f"{call}{where} returned {code}{name}: {self.message}"
        super().__init__(text + (f"; {detail}" if detail else ""))


class LatchedError(QuorvexError):
    """SwitchCard refused the card because an earlier failure latched it: no
    call went to it, nor to whichever card is current. ``Card.reopen()``
    clears the latch."""

    def __init__(self, card: int) -> None:
        super().__init__(
            1,
            "SwitchCard",
            card,
            "the card's error latch is set by an earlier failure, so no call goes to it; "
            "reopen() the card to clear the latch",
        )


class CaptureError(QuorvexError):
    """A capture ended by the card's error latch (for example after the
    module's on-board memory overflowed). ``scans_delivered`` scans, numbered
    from 0 at the start of the capture, were delivered intact;
    ``last_good_scan`` is the last of them (-1: none)."""

    def __init__(self, card: int, call: str, delivered: int) -> None:
        self.scans_delivered = delivered
        self.last_good_scan = delivered - 1
        kept = (
            f"scans 0 to {delivered - 1} were delivered intact"
            if delivered
            else "no scan was delivered"
        )
        super().__init__(
            1, call, card, f"the card latched during the capture; {kept}, later ones are lost"
        )


class ReadTimeout(TimeoutError):
    """Fewer scans came than a read asked for within its time-out. ``data``
    holds the scans that did come (they are no longer waiting in the card)."""

    def __init__(self, text: str, data) -> None:
        super().__init__(text)
        self.data = data
