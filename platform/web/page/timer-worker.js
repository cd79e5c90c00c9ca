// The page's clock for pauses. A browser slows the timers of a page in a hidden tab down to one a
// second and less, but not a worker's: the page asks here for every pause and resumes on the
// answer, so that the update keeps its pace when the tab is in the background. A time limit that
// is no longer needed (the report came) is called off, so that it costs the page no message.
'use strict';
const pending = new Map();
onmessage = (event) => {
  const { id, ms, cancel } = event.data;
  if (cancel) {
    clearTimeout(pending.get(id));
    pending.delete(id);
    return;
  }
  pending.set(id, setTimeout(() => {
    pending.delete(id);
    postMessage(id);
  }, ms));
};
