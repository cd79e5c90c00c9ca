// The page's clock for pauses. A browser slows the timers of a page in a hidden tab down to one a
// second and less, but not a worker's: the page asks here for every pause and resumes on the
// answer, so that the update keeps its pace when the tab is in the background.
'use strict';
onmessage = (event) => {
  const { id, ms } = event.data;
  setTimeout(() => postMessage(id), ms);
};
