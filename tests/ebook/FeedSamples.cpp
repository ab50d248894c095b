// Feed documents written the way their publishers write them.
#include "FeedSamples.h"

#include <iterator>

namespace samples {

extern const char kWordPress[] = R"(<?xml version="1.0" encoding="UTF-8"?><rss version="2.0"
	xmlns:content="http://purl.org/rss/1.0/modules/content/"
	xmlns:wfw="http://wellformedweb.org/CommentAPI/"
	xmlns:dc="http://purl.org/dc/elements/1.1/"
	xmlns:atom="http://www.w3.org/2005/Atom"
	xmlns:sy="http://purl.org/rss/1.0/modules/syndication/"
	xmlns:slash="http://purl.org/rss/1.0/modules/slash/"
	>
<channel>
	<title>Kitchen &#38; Garden</title>
	<atom:link href="https://blog.example/feed/" rel="self" type="application/rss+xml" />
	<link>https://blog.example</link>
	<description>Notes from the allotment</description>
	<lastBuildDate>Mon, 04 Mar 2024 18:22:11 +0000</lastBuildDate>
	<language>en-US</language>
	<sy:updatePeriod>hourly</sy:updatePeriod>
	<generator>https://wordpress.org/?v=6.4.3</generator>
<image><url>https://blog.example/icon.png</url><title>Kitchen &#38; Garden</title><link>https://blog.example</link></image>
	<item>
		<title>Tomatoes &#8211; the early ones</title>
		<link>https://blog.example/2024/03/04/tomatoes/</link>
		<comments>https://blog.example/2024/03/04/tomatoes/#respond</comments>
		<dc:creator><![CDATA[Ann Gardener]]></dc:creator>
		<pubDate>Mon, 04 Mar 2024 18:22:11 +0000</pubDate>
		<category><![CDATA[Vegetables]]></category>
		<guid isPermaLink="false">https://blog.example/?p=123</guid>
		<description><![CDATA[Sow them now [&#8230;]]]></description>
		<content:encoded><![CDATA[<p>Sow <strong>now</strong>, see <a href="/seeds/">our seeds</a>.</p>]]></content:encoded>
		<wfw:commentRss>https://blog.example/2024/03/04/tomatoes/feed/</wfw:commentRss>
		<slash:comments>0</slash:comments>
	</item>
</channel>
</rss>
)";

extern const char kBlogger[] =
    R"(<?xml version='1.0' encoding='UTF-8'?><?xml-stylesheet href="http://www.blogger.com/styles/atom.css" type="text/css"?><feed xmlns='http://www.w3.org/2005/Atom' xmlns:openSearch='http://a9.com/-/opensearchrss/1.0/' xmlns:thr='http://purl.org/syndication/thread/1.0'><id>tag:blogger.com,1999:blog-1</id><updated>2024-03-05T09:00:00.001+01:00</updated><title type='text'>Rail &amp; Sail</title><subtitle type='html'>Trains &lt;b&gt;and&lt;/b&gt; boats</subtitle><link rel='http://schemas.google.com/g/2005#feed' type='application/atom+xml' href='https://rail.example/feeds/posts/default'/><link rel='alternate' type='text/html' href='https://rail.example/'/><author><name>Bo</name></author><openSearch:totalResults>1</openSearch:totalResults><entry><id>tag:blogger.com,1999:post-2</id><published>2024-03-05T08:30:00.000+01:00</published><updated>2024-03-05T08:31:00.000+01:00</updated><title type='text'>Night train</title><content type='html'>&lt;div&gt;Sleeper &lt;i&gt;cabins&lt;/i&gt; &amp;amp; more&lt;/div&gt;</content><link rel='replies' type='text/html' href='https://rail.example/2024/03/night.html#comment-form' title='0 Comments'/><link rel='edit' type='application/atom+xml' href='https://www.blogger.com/feeds/1/posts/default/2'/><link rel='alternate' type='text/html' href='https://rail.example/2024/03/night.html' title='Night train'/><thr:total>0</thr:total></entry></feed>)";

extern const char kPodcast[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<rss xmlns:itunes="http://www.itunes.com/dtds/podcast-1.0.dtd" xmlns:podcast="https://podcastindex.org/namespace/1.0" version="2.0">
  <channel>
    <title><![CDATA[The Long Walk]]></title>
    <description><![CDATA[<p>Walking <em>slowly</em>.</p>]]></description>
    <itunes:author>Cat Walker</itunes:author>
    <language>fr</language>
    <item>
      <title><![CDATA[Episode 12: Fog]]></title>
      <description><![CDATA[<p>Show notes<br>with <a href="https://walk.example/fog">links</a></p>]]></description>
      <guid isPermaLink="true">https://walk.example/episodes/12</guid>
      <pubDate>Tue, 5 Mar 2024 06:00:00 PST</pubDate>
      <enclosure url="https://cdn.example/12.mp3" length="1" type="audio/mpeg"/>
      <itunes:summary>Show notes</itunes:summary>
      <author>cat@walk.example (Cat Walker)</author>
    </item>
  </channel>
</rss>)";

extern const char kRdf[] =
    R"(<?xml version="1.0" encoding="ISO-8859-1"?>
<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#" xmlns="http://purl.org/rss/1.0/" xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:syn="http://purl.org/rss/1.0/modules/syndication/">
<channel rdf:about="https://slash.example/">
<title>Slash</title><link>https://slash.example/</link><description>News for nerds</description><dc:language>en-us</dc:language>
<items><rdf:Seq><rdf:li rdf:resource="https://slash.example/1"/></rdf:Seq></items>
<image rdf:resource="https://slash.example/logo.gif"/>
</channel>
<image rdf:about="https://slash.example/logo.gif"><title>Slash logo</title><url>https://slash.example/logo.gif</url><link>https://slash.example/</link></image>
<item rdf:about="https://slash.example/1"><title>Caf)"
    "\xE9"
    R"( opens</title><link>https://slash.example/1</link><description>It has )"
    "\x93"
    R"(coffee)"
    "\x94"
    R"(.</description><dc:creator>timothy</dc:creator><dc:date>2024-03-05T12:00:00+00:00</dc:date></item>
</rdf:RDF>)";

extern const char kRss091[] = R"(<?xml version="1.0" encoding="ISO-8859-1"?>
<!DOCTYPE rss PUBLIC "-//Netscape Communications//DTD RSS 0.91//EN"
 "http://my.netscape.com/publish/formats/rss-0.91.dtd">
<rss version="0.91">
<channel>
<title>Old &eacute;cole</title>
<link>http://old.example/</link>
<description>Since 1999&nbsp;&mdash; still here</description>
<language>fr-fr</language>
<item><title>Un &amp; deux</title><link>http://old.example/1.html?a=1&b=2</link><description>Caf&eacute; &copy;</description></item>
</channel>
</rss>)";

extern const char kAtom03[] = R"(<?xml version="1.0" encoding="utf-8"?>
<feed version="0.3" xmlns="http://purl.org/atom/ns#" xml:lang="nl">
<title>Oud</title><tagline mode="escaped" type="text/html">Een &lt;b&gt;blog&lt;/b&gt;</tagline>
<link rel="alternate" type="text/html" href="http://oud.example/"/>
<author><name>Piet</name></author>
<entry><title mode="escaped" type="text/html">Eerste &amp;amp; laatste</title><link rel="alternate" type="text/html" href="http://oud.example/1"/>
<issued>2004-03-05T10:00:00+01:00</issued><modified>2004-03-05T11:00:00Z</modified>
<summary type="text/plain">Kort</summary>
<content type="text/html" mode="escaped" xml:base="http://oud.example/posts/">&lt;p&gt;Lang &lt;a href="2"&gt;meer&lt;/a&gt;&lt;/p&gt;</content>
</entry>
<entry><title>Twee</title><link rel="alternate" type="text/html" href="http://oud.example/2"/><issued>2004-03-06T10:00:00Z</issued>
<content type="application/xhtml+xml" mode="xml"><div xmlns="http://www.w3.org/1999/xhtml"><p>In <b>xml</b></p></div></content>
<content type="text/plain" mode="base64">QmFzZSA2NA==</content>
</entry>
</feed>)";

extern const char kNewsSite[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<rss xmlns:media="http://search.yahoo.com/mrss/" xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:feedburner="http://rssnamespace.org/feedburner/ext/1.0" version="2.0">
<channel><title>Daily</title><link>https://daily.example/</link><description>All the news</description>
<item><title>Election night</title><link>https://feeds.example/~r/daily/~3/abc/</link>
<feedburner:origLink>https://daily.example/politics/election</feedburner:origLink>
<description>Polls close &amp;lt;b&amp;gt;at eight&amp;lt;/b&amp;gt;</description>
<pubDate>Tue, 05 Mar 2024 22:00:00 EST</pubDate><dc:creator>Desk A</dc:creator><dc:creator>Desk B</dc:creator>
<media:content url="https://daily.example/pic.jpg" medium="image"><media:title>Not the title</media:title></media:content>
<guid isPermaLink="false">abc</guid></item>
</channel></rss>)";

// No default namespace prefix declared: the publisher took the usual ones for granted.
extern const char kUndeclared[] = R"(<rss version="2.0"><channel><title>Loose</title>
<item><title>T</title><atom:link href="https://loose.example/t" rel="alternate"/><content:encoded>&lt;p&gt;Body&lt;/p&gt;</content:encoded><dc:date>2024-03-05</dc:date></item>
</channel></rss>)";

} // namespace samples

namespace samples {

const HtmlSample kHostileHtml[] = {
    {"script", "<p>a<script>alert(1)</script>b</p>"},
    {"script upper case, remote", "<SCRIPT SRC=//x.example/x.js></SCRIPT>text"},
    {"script split by a script", "<scr<script>ipt>alert(1)</script>"},
    {"script in svg", "<svg onload=alert(1)><script>alert(2)</script><a xlink:href=javascript:x>s</a></svg>"},
    {"script in math", "<math><mi xlink:href=\"javascript:alert(1)\">x</mi><script>alert(1)</script></math>"},
    {"script in textarea and template",
     "<textarea><script>alert(1)</script></textarea><template><script>x</script></template>"},
    {"script in a comment",
     "<!--<script>alert(1)</script>-->after<!--[if IE]><script>x</script><![endif]-->"},
    {"noscript breakout", "<noscript><p title=\"</noscript><img src=x onerror=alert(1)>\"></noscript>end"},
    {"event attributes", "<div onmouseover=\"x()\" ONCLICK=y><p onload=z style=\"color:red\">t</p></div>"
                         "<img src=x onerror=alert(1) alt=\"\"><body onload=alert(1)>"},
    {"javascript links",
     "<a href=\"javascript:alert(1)\">1</a><a href=\"JaVaScRiPt:alert(2)\">2</a>"
     "<a href=\" &#106;avascript:alert(3)\">3</a><a href=\"jav&#x09;ascript:alert(4)\">4</a>"
     "<a href=\"java\nscript:alert(5)\">5</a><a href=\"vbscript:msgbox(6)\">6</a>"
     "<a href=\"data:text/html;base64,PHNjcmlwdD4=\">7</a><a href=\"file:///etc/passwd\">8</a>"
     "<blockquote cite=\"javascript:x\">q</blockquote>"},
    {"nested frames", "<iframe src=\"https://evil.example/\"><iframe src=x></iframe></iframe>"
                      "<frameset><frame src=\"javascript:x\"><frameset><frame src=y></frameset></frameset>"
                      "<noframes><p>no frames</p></noframes>"},
    {"objects, embeds, applets", "<object data=x.swf><param name=a value=b><embed src=x.swf></object>"
                                 "<applet code=X.class>applet</applet>"},
    {"forms", "<form action=\"https://evil.example/\"><input name=a><button onclick=x>b</button>"
              "<select><option>o</select><textarea>t</textarea></form>"},
    {"meta, link, base, style",
     "<meta http-equiv=refresh content=\"0;url=javascript:x\"><link rel=stylesheet href=x.css>"
     "<base href=\"javascript:x//\"><style>body{background:url(javascript:x)}</style>"
     "<p style=\"background:url(javascript:x)\">styled</p>"},
    {"unclosed tags", "<div><p><b><i>text<table><tr><td>cell<ul><li>one<li>two<blockquote>q"},
    {"unclosed attribute", "<a href=\"https://ok.example/ title=x>never closed"},
    {"block in inline",
     "<b><p>para</p><div>div</div><h2>head</h2><ul><li>item</li></ul><table><tr><td>c</td></tr></table></b>"},
    {"stray list content", "<ul>text<p>para</p><li>ok</li><b>bold</b></ul><dl>loose<dt>t<dd>d<p>p</p></dl>"},
    {"list items outside lists", "<li>alone</li><dt>term</dt><dd>data</dd>"},
    {"links in links", "<a href=\"https://a.example/\"><table><tr><td><a "
                       "href=\"https://b.example/\">inner</a></td></tr></table></a>"},
    {"figures", "<figure><figcaption>a</figcaption><img alt=i><figcaption>b</figcaption></figure>"
                "<figure>t<figcaption>last</figcaption></figure><figcaption>loose</figcaption>"},
    {"tables out of order",
     "<table><tr><td>1</td></tr><caption>late</caption><thead><tr><th><h1>h</h1></th></tr>"
     "</thead><tfoot><tr><td colspan=0 rowspan=x>f</td></tr></tfoot></table>"},
    {"controls and bad UTF-8",
     "a\x01\x02\x0B\x0C b\xC3\x28 c\xED\xA0\x80 &#1; &#xFFFE; &#0; \xEF\xBF\xBF end"},
    {"deep nesting", nullptr},
};
const int kHostileHtmlCount = int(std::size(kHostileHtml));

namespace {

// As XML character data, without the controls XML has no place for.
QByteArray Escaped(const QByteArray& html) {
    QByteArray out;
    for (const char c : html) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (uchar(c) >= 0x20 || c == '\n' || c == '\t')
            out += c;
    }
    return out;
}

} // namespace

QByteArray HostileFeed() {
    QByteArray feed =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>Hostile</title>"
        "<link>https://hostile.example/</link>\n";
    for (const HtmlSample& sample : kHostileHtml) {
        const QByteArray html =
            sample.html ? QByteArray(sample.html) : QByteArray("<div>").repeated(5000) + "deep";
        feed += "<item><title>" + QByteArray(sample.name) + "</title><link>https://hostile.example/" +
                QByteArray(sample.name).replace(' ', '-') + "</link><description>" + Escaped(html) +
                "</description></item>\n";
    }
    return feed + "</channel></rss>\n";
}

} // namespace samples
