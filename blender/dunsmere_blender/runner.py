"""One bake on a thread of its own, so Blender's window keeps drawing: the
module's bake waits with the GIL released, and its progress is kept here for
a timer to show. Nothing in here touches bpy: the operator reads the runner
on Blender's thread."""

import threading

_current = None  # the runner whose bake has not been collected yet
_lock = threading.Lock()


class Busy(RuntimeError):
    pass


class Runner:
    """BAKE(progress=, cancel=) runs on a thread; poll() says when it is over,
    then result or error holds its end."""

    def __init__(self, module, bake):
        self.progress = 0.0
        self.result = None
        self.error = None
        self.cancel_token = module.CancelToken()
        self._bake = bake
        self._thread = threading.Thread(target=self._run, name="Dunsmere bake", daemon=True)

    def _progress(self, fraction):
        # The module's fraction never falls; holding the largest keeps that
        # true for whoever reads it between two calls.
        self.progress = max(self.progress, float(fraction))

    def _run(self):
        try:
            self.result = self._bake(progress=self._progress, cancel=self.cancel_token)
        except BaseException as e:  # handed to Blender's thread, raised nowhere here
            self.error = e

    def start(self):
        """Starts the bake; Busy while another one has not been collected."""
        global _current
        with _lock:
            if _current is not None:
                raise Busy("A Dunsmere bake is running: wait for it, or press Esc to cancel it")
            _current = self
        self._thread.start()
        return self

    def cancel(self):
        self.cancel_token.set()

    def poll(self):
        return not self._thread.is_alive()

    def finish(self, timeout=None):
        """Waits for the end and lets the next bake start."""
        global _current
        self._thread.join(timeout)
        if self._thread.is_alive():
            return False
        with _lock:
            if _current is self:
                _current = None
        return True


def running():
    return _current is not None
