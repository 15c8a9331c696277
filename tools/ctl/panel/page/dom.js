// Building the page's elements: HTML and SVG from one small helper.
export const $ = (id) => document.getElementById(id);
const svgNs = 'http://www.w3.org/2000/svg';

export function element(tag, attributes = {}, ...children) {
  const node = tag.startsWith('svg:') ? document.createElementNS(svgNs, tag.slice(4))
                                      : document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (name === 'text') node.textContent = value;
    else if (name === 'className') node.setAttribute('class', value);
    else node.setAttribute(name, value);
  }
  for (const child of children) node.append(child);
  return node;
}

let noticeTimer = 0;
// A short message under the header; errors stay longer.
export function notice(text, isError = false) {
  const box = $('notice');
  box.textContent = text;
  box.classList.toggle('error', isError);
  box.hidden = !text;
  clearTimeout(noticeTimer);
  if (text) noticeTimer = setTimeout(() => { box.hidden = true; }, isError ? 9000 : 5000);
}
