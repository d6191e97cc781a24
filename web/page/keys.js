// How the explorer offers each settings key: its range, the control and a line on what it does.
// The keys themselves, their order, presets and (for the keys whose values the core brings into a
// range) their ranges come from the core; the ranges here only narrow the others to what is
// useful in a form. A key not described here is still offered, as a plain whole number.
const int32 = [-2147483648, 2147483647];
const colour = { range: [0, 15], control: "colour" };
const share = [0, 100];
const count = [0, 8];
const toggle = { range: [0, 1], control: "switch" };

export const keyTable = {
  landcolor: { ...colour, text: "colour of land cells" },
  watercolor: { ...colour, text: "colour of water cells" },
  forestcolor: { ...colour, text: "colour of settled cells" },
  xsize: { range: [1, 4096], control: "size" },
  ysize: { range: [1, 4096], control: "size" },
  oceanedgesizex: { range: [0, 2048], text: "margin of sea left and right" },
  oceanedgesizey: { range: [0, 2048], text: "margin of sea at top and bottom" },
  wround: { range: int32, text: "stored, not used" },
  landwaterratio: { range: count, text: "land neighbours that turn a cell to water" },
  landmasssize: { range: count, text: "land neighbours above which land becomes water" },
  beachshow: { range: int32, text: "stored, not used" },
  erosion: { ...toggle, text: "1: land/water ratio from the erosion table" },
  randerosionvar1: { range: [0, 100], text: "spread of the erosion table" },
  randerosionvar2: { range: [0, 100], text: "offset of the erosion table" },
  erosionseed: { range: int32, text: "seed of the erosion table" },
  random1: { ...toggle, text: "1: the seed is used" },
  randratio: { range: share, text: "0: drawn from 40 .. 49" },
  seed: { range: int32, text: "stored, not used" },
  speed: { range: [0, 2147483647], text: "the program's pause; maps here ignore it" },
  downupflow: { range: share, text: "threshold of the vertical flow" },
  downflowenabled: { ...toggle, text: "vertical flow on" },
  upflowenabled: { ...toggle, text: "the neighbour above may be left out" },
  upflowratio: { range: share, text: "chance of leaving out the one above" },
  leftrightflow: { range: share, text: "threshold of the horizontal flow" },
  leftflowenabled: { ...toggle, text: "horizontal flow on" },
  rightflowenabled: { ...toggle, text: "horizontal flow on" },
  rightflowratio: { range: share, text: "chance of leaving out the right one" },
  continents: { control: "slider", world: true, text: "0: the classic map; how many continents" },
  landshare: { control: "slider", world: true, text: "per cent of land" },
  coastroughness: { control: "slider", world: true, text: "round .. frayed coasts" },
  islands: { control: "slider", world: true, text: "none .. many islands" },
  seacolor: { range: [-1, 15], control: "colour", world: true, text: "colour of the sea; -1: light blue, apart from the lakes" },
  relief: { control: "slider", world: true, text: "gentle .. mountainous land" },
  rivers: { control: "slider", world: true, text: "no .. dense rivers" },
};

// coreRange: the key's range as the core holds it, when it brings values into one.
export function describeKey(name, coreRange) {
  const info = keyTable[name] || { range: int32, text: "" };
  return coreRange ? { ...info, range: coreRange } : { range: int32, ...info };
}
