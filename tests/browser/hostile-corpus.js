'use strict';
// Hostile inputs for script_never_runs.test.js. Payload n, if any of it ever
// runs, sets the global xss<n> (in the window it runs in, or in top), posts
// "xss<n>" to top (from an opaque data: document), or opens a dialog that
// says n. A breakout that cannot hold a script creates an element named
// xss... instead. The test reads all of these in every frame after each load.
//
// Payloads are byte strings (one character a byte, 'latin1'): the board is
// a Shift_JIS site, and lone lead bytes before quotes are part of the corpus.
// Each fits in 80 bytes, the width of titles, names and the one-line fields.

const set = (n) => `top.xss${n}=1`;
const post = (n) => `top.postMessage('xss${n}','*')`;

// [family, payload of n]
const FORMS = [
  // script elements in every spelling
  ['script', (n) => `<script>${set(n)}</script>`],
  ['script', (n) => `<SCRIPT>${set(n)}</SCRIPT>`],
  ['script', (n) => `<ScRiPt>alert(/xss${n}/)</sCrIpT>`],
  ['script', (n) => `<script type="text/javascript">${set(n)}</script>`],
  ['script', (n) => `<script src="data:text/javascript,${set(n)}"></script>`],
  ['script', (n) => `<scr<script>ipt>${set(n)}</scr</script>ipt>`],
  ['script', (n) => `<script/x>${set(n)}</script>`],
  ['script', (n) => `<<script>${set(n)}//<</script>`],
  ['script', (n) => `<script\n>${set(n)}</script\n>`],
  ['script', (n) => `<script>${set(n)}`],
  // event handlers
  ['handler', (n) => `<img src=x onerror=${set(n)}>`],
  ['handler', (n) => `<IMG SRC=x OnErRoR=alert(/xss${n}/)>`],
  ['handler', (n) => `<img src="x" onerror="${set(n)}">`],
  ['handler', (n) => `<img/src/onerror=${set(n)}>`],
  ['handler', (n) => `<img src=x onerror=${set(n)}//`],
  ['handler', (n) => `<body onload=${set(n)}>`],
  ['handler', (n) => `<details open ontoggle=${set(n)}>`],
  ['handler', (n) => `<input autofocus onfocus=${set(n)}>`],
  ['handler', (n) => `<video><source onerror=${set(n)}></video>`],
  ['handler', (n) => `<a href="http://127.0.0.1/" onclick=${set(n)}>a</a>`],
  ['handler', (n) => `<font color=red onmouseover=${set(n)}>f</font>`],
  ['handler', (n) => `<table><td onmouseover=${set(n)}>t</td></table>`],
  ['handler', (n) => `<frameset onload=${set(n)}>`],
  // javascript: and data: URLs
  ['url', (n) => `<a href="javascript:${set(n)}">j</a>`],
  ['url', (n) => `<a href="jav&#x09;ascript:${set(n)}">j</a>`],
  ['url', (n) => `<a href=" JaVaScRiPt:${set(n)}">j</a>`],
  ['url', (n) => `<a href="&#106;avascript:${set(n)}">j</a>`],
  ['url', (n) => `<a href="javascript&colon;${set(n)}">j</a>`],
  ['url', (n) => `<a href="java\tscript:${set(n)}">j</a>`],
  ['url', (n) => `<a href="\x01javascript:${set(n)}">j</a>`],
  ['url', (n) => `<a href="data:text/html,<script>${post(n)}</script>">d</a>`],
  ['url', (n) => `<img src="javascript:${set(n)}">`],
  ['url', (n) => `<form action="javascript:${set(n)}"><input type=submit></form>`],
  ['url', (n) => `<button formaction="javascript:${set(n)}">b</button>`],
  ['url', (n) => `<iframe src="javascript:${set(n)}"></iframe>`],
  ['url', (n) => `<iframe srcdoc="<script>${set(n)}</script>"></iframe>`],
  ['url', (n) => `<object data="javascript:${set(n)}"></object>`],
  ['url', (n) => `<object data="data:text/html,<script>${post(n)}</script>">`],
  ['url', (n) => `<embed src="data:text/html,<script>${post(n)}</script>">`],
  ['url', (n) => `<base href="javascript:${set(n)}//">`],
  ['url', (n) => `<meta http-equiv="refresh" content="0;url=javascript:${set(n)}">`],
  ['url', (n) => `<style>@import "javascript:${set(n)}";</style>`],
  ['url', (n) => `<div style="background:url(javascript:${set(n)})">s</div>`],
  // SVG and MathML
  ['svg', (n) => `<svg onload=${set(n)}>`],
  ['svg', (n) => `<svg><script>${set(n)}</script></svg>`],
  ['svg', (n) => `<svg><animate onbegin=${set(n)} attributeName=x dur=1s>`],
  ['svg', (n) => `<svg><a xlink:href="javascript:${set(n)}"><text y=9>s</text></a>`],
  ['svg', (n) => `<svg><style><img src=x onerror=${set(n)}></style></svg>`],
  ['svg', (n) => `<svg><foreignObject><img src=x onerror=${set(n)}>`],
  ['math', (n) => `<math><mtext><table><mglyph><style><img src=x onerror=${set(n)}>`],
  ['math', (n) => `<math href="javascript:${set(n)}">m</math>`],
  ['math', (n) => `<math><style><img src=x onerror=${set(n)}></style></math>`],
  // broken and nested markup
  ['markup', (n) => `<template><img src=x onerror=${set(n)}></template>`],
  ['markup', (n) => `<noscript><p title="</noscript><img src=x onerror=${set(n)}>">`],
  ['markup', (n) => `<xmp><img src=x onerror=${set(n)}></xmp>`],
  ['markup', (n) => `<noembed><img src=x onerror=${set(n)}></noembed>`],
  ['markup', (n) => `<!--><img src=x onerror=${set(n)}>-->`],
  ['markup', (n) => `<![CDATA[><img src=x onerror=${set(n)}>]]>`],
  ['markup', (n) => `<? ><img src=x onerror=${set(n)}> ?>`],
  ['markup', (n) => `<a title="</a><img src=x onerror=${set(n)}>">t</a>`],
  ['markup', (n) => `<<img src=x onerror=${set(n)}>>`],
  ['markup', (n) => `<select><template><img src=x onerror=${set(n)}></template>`],
  // breaking out of the place a value is printed in
  ['breakout', (n) => `"><script>${set(n)}</script>`],
  ['breakout', (n) => `'><script>${set(n)}</script>`],
  ['breakout', (n) => `" autofocus onfocus="${set(n)}" x="`],
  ['breakout', (n) => `' autofocus onfocus='${set(n)}' x='`],
  ['breakout', (n) => `x autofocus onfocus=${set(n)} `],
  ['breakout', (n) => `'-${set(n)}-'`],
  ['breakout', (n) => `";${set(n)};//`],
  ['breakout', (n) => `\\';${set(n)};//`],
  ['breakout', (n) => `</script><script>${set(n)}</script>`],
  ['breakout', (n) => `</textarea><script>${set(n)}</script>`],
  ['breakout', (n) => `</title><script>${set(n)}</script>`],
  ['breakout', (n) => `--><script>${set(n)}</script>`],
  ['breakout', (n) => `]]><script>${set(n)}</script>`],
  ['breakout', (n) => `</option></select><img src=x onerror=${set(n)}>`],
  ['breakout', (n) => `</style></noscript></xmp><script>${set(n)}</script>`],
  ['breakout', (n) => `</font></b></td></tr></table></pre><script>${set(n)}</script>`],
  ['breakout', (n) => `</frameset><body onload=${set(n)}>`],
  // encoded forms
  ['encoded', (n) => `&lt;script&gt;${set(n)}&lt;/script&gt;`],
  ['encoded', (n) => `&#60;script&#62;${set(n)}&#60;/script&#62;`],
  ['encoded', (n) => `&#x3C;img src=x onerror=${set(n)}&#x3E;`],
  ['encoded', (n) => `&amp;lt;script&amp;gt;${set(n)}&amp;lt;/script&amp;gt;`],
  ['encoded', (n) => `%3Cscript%3E${set(n)}%3C/script%3E`],
  ['encoded', (n) => `%253Cimg%2520src%253Dx%2520onerror%253D${set(n)}%253E`],
  ['encoded', (n) => `\\u003cscript\\u003e${set(n)}\\u003c/script\\u003e`],
  ['encoded', (n) => `+ADw-script+AD4-${set(n)}+ADw-/script+AD4-`],
  ['encoded', (n) => `\xC0\xBCscript\xC0\xBE${set(n)}\xC0\xBC/script\xC0\xBE`],
  ['encoded', (n) => `\x1B(B<script>${set(n)}</script>`],
  ['encoded', (n) => `\x1B$B<script>${set(n)}</script>\x1B(B`],
  // Shift_JIS lead bytes before a quote, an angle bracket or a backslash
  ['sjis', (n) => `\x81"><script>${set(n)}</script>`],
  ['sjis', (n) => `\x82'><img src=x onerror=${set(n)}>`],
  ['sjis', (n) => `\xE0" autofocus onfocus=${set(n)} x="`],
  ['sjis', (n) => `\xFC' autofocus onfocus=${set(n)} x='`],
  ['sjis', (n) => `\x9F<script>${set(n)}</script>`],
  ['sjis', (n) => `\x81\\";${set(n)};//`],
  ['sjis', (n) => `\x85\\';${set(n)};//`],
  ['sjis', (n) => `\xA0"><svg onload=${set(n)}>`],
  ['sjis', (n) => `\x80"><script>${set(n)}</script>`],
  ['sjis', (n) => `<a href="x" title="\x81">" onmouseover=${set(n)} x=</a>`],
  ['sjis', (n) => `xss${n} ends in a lead byte\x81`],
  // line breaks and NUL
  ['crlf', (n) => `x\r\n<script>${set(n)}</script>`],
  ['crlf', (n) => `"\r\n autofocus onfocus=${set(n)} x="`],
  ['crlf', (n) => `\r\n\r\n<script>${set(n)}</script>`],
  ['nul', (n) => `<img src=x o\0nerror=${set(n)}>`],
  ['nul', (n) => `<a href="java\0script:${set(n)}">n</a>`],
];

const PAYLOADS = FORMS.map(([family, form], i) => ({ id: i + 1, family, text: form(i + 1) }));

// Breakouts for the fields of a few bytes (colours and frame sizes hold 7).
const SHORT = ['"><xss>', "'><xss>", '<xss>', '" xss="', '\x81"><xss'];

// Addresses that the plain text mode turns into links through the jump
// handler; base is the site's own address, so a jump stays on the site.
const LINK_FORMS = [
  (base, n) => `${base}x?q="onmouseover=top.xss${n}=1"x`,
  (base, n) => `${base}x?q='autofocus/onfocus=top.xss${n}=1'`,
  (base, n) => `${base}x#'><b/onclick=top.xss${n}=1>b</b>`,
  (base, n) => `${base}x?a=1&b=javascript:top.xss${n}=1&c=%22%3E%3Cscript%3E`,
  (base, n) => `${base.replace('http', 'HTTP')}x;url=javascript:top.xss${n}=1`,
];
const links = (base) => LINK_FORMS.map((form, i) => ({ id: 200 + i, text: form(base, 200 + i) }));

// What the jump handler may be asked for directly.
const JUMPS = (base) => [
  `javascript:top.xss210=1`,
  `data:text/html,<script>top.postMessage('xss211','*')</script>`,
  `${base}x" http-equiv="refresh" content="0;url=javascript:top.xss212=1`,
  `${base}x\r\n<script>top.xss213=1</script>`,
  ` JaVaScRiPt:top.xss214=1`,
];

// A file name as a browser sends it: no directory, '"' written as %22.
function asFileName(text) {
  return text.replace(/[/\\\x00-\x1F\x7F]/g, '').replace(/"/g, '%22');
}

module.exports = { PAYLOADS, SHORT, links, JUMPS, asFileName };
