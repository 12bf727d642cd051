<?xml version="1.0" encoding="utf-8"?>
<!--
  Filter activity reports (day, week, month) as a page: the events per filter category and
  per client as charts, the clients, and every event, as the report's HTML twin shows them.
  Host it, with template.xsl, as /bwfp/template_filter.xsl below the base URL that
  tallyctl report set stores as ReportStyleURL.
-->
<xsl:stylesheet version="1.0"
    xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:exsl="http://exslt.org/common"
    xmlns="http://www.w3.org/1999/xhtml"
    exclude-result-prefixes="exsl">
<xsl:output method="xml" encoding="utf-8" indent="no" omit-xml-declaration="yes"
    doctype-system="about:legacy-compat"/>

<xsl:variable name="chartBars" select="12"/>
<xsl:key name="by-filter" match="data" use="string(filter)"/>
<xsl:key name="by-ip" match="data" use="string(ip)"/>

<xsl:template match="/">
  <xsl:variable name="title" select="string(/log/type/lg)"/>
  <xsl:variable name="events" select="count(/log/data)"/>
  <xsl:variable name="firstOfIp" select="/log/data[generate-id() = generate-id(key('by-ip', string(ip))[1])]"/>
  <xsl:variable name="firstOfFilter" select="/log/data[generate-id() = generate-id(key('by-filter', string(filter))[1])]"/>
  <xsl:variable name="clients" select="count($firstOfIp)"/>
  <xsl:variable name="byFilterTree">
    <xsl:for-each select="$firstOfFilter">
      <xsl:sort select="count(key('by-filter', string(filter)))" data-type="number" order="descending"/>
      <bar value="{count(key('by-filter', string(filter)))}">
        <xsl:attribute name="label">
          <xsl:choose>
            <xsl:when test="string(filter) = ''">(no filter named)</xsl:when>
            <xsl:otherwise><xsl:value-of select="filter"/></xsl:otherwise>
          </xsl:choose>
        </xsl:attribute>
      </bar>
    </xsl:for-each>
  </xsl:variable>
  <xsl:variable name="byClientTree">
    <xsl:for-each select="$firstOfIp">
      <xsl:sort select="count(key('by-ip', string(ip)))" data-type="number" order="descending"/>
      <bar label="{ip}" value="{count(key('by-ip', string(ip)))}"/>
    </xsl:for-each>
  </xsl:variable>
  <xsl:variable name="byFilter" select="exsl:node-set($byFilterTree)/*"/>
  <xsl:variable name="byClient" select="exsl:node-set($byClientTree)/*"/>
  <html lang="en">
    <head>
      <meta charset="utf-8"/>
      <meta name="viewport" content="width=device-width, initial-scale=1"/>
      <title><xsl:value-of select="$title"/></title>
      <style>
body{margin:0;background:#f3f5f8;color:#1f2933;font:14px/1.45 "Segoe UI",Roboto,"Helvetica Neue",Arial,"Liberation Sans",sans-serif}
header{background:#1f3a5f;color:#fff;padding:18px 32px 16px}
header h1{margin:0;font-size:22px;font-weight:600}
header p{margin:4px 0 0;color:#c8d5e6}
header nav{margin-top:10px}
header nav a{color:#fff;margin-right:16px;text-decoration:none;border-bottom:1px solid #6f8fb8}
main{max-width:1120px;margin:0 auto;padding:20px 32px 40px}
section{background:#fff;border:1px solid #dbe2ea;border-radius:6px;padding:16px 20px;margin:0 0 20px}
h2{font-size:17px;margin:0 0 12px;color:#1f3a5f}
h3{font-size:14px;margin:18px 0 6px;color:#243b53}
.figures{display:flex;flex-wrap:wrap;gap:12px;margin:0 0 20px}
.figure{flex:1 1 180px;background:#fff;border:1px solid #dbe2ea;border-radius:6px;padding:10px 16px}
.figure span{display:block;color:#52606d;font-size:12px;text-transform:uppercase;letter-spacing:.04em}
.figure b{display:block;font-size:21px;color:#1f3a5f;font-weight:600;overflow-wrap:anywhere}
table{border-collapse:collapse;width:100%;font-variant-numeric:tabular-nums}
th,td{padding:4px 8px;border-bottom:1px solid #e4e8ee;text-align:left;vertical-align:top}
th{background:#eef2f7;color:#334e68;font-weight:600;white-space:nowrap}
tbody tr:nth-child(even){background:#f8fafc}
th.n,td.n{text-align:right;white-space:nowrap}
td.wrap{overflow-wrap:anywhere}
tfoot td{font-weight:700;border-top:2px solid #bcccdc;border-bottom:0}
table.events{table-layout:fixed}
table.events th.c1{width:56px}
table.events th.c2{width:88px}
table.events th.c3{width:72px}
table.events th.c4{width:118px}
table.events th.c5{width:104px}
table.events th.c7{width:140px}
svg.chart{display:block;max-width:100%;height:auto;margin:4px 0 10px}
.grid{display:grid;grid-template-columns:repeat(auto-fit,minmax(440px,1fr));gap:4px 28px}
.note{color:#52606d;margin:4px 0 10px}
.empty{padding:28px;text-align:center;color:#52606d;font-size:15px}
@media print{body{background:#fff}section,.figure{border-color:#bbb}}
</style>
    </head>
    <body>
      <header>
        <h1><xsl:value-of select="$title"/></h1>
        <p>Filter activity: <xsl:value-of select="format-number($events, '#,##0')"/>
          <xsl:value-of select="substring(' events', 1, 7 - number($events = 1))"/> of <xsl:value-of
            select="format-number($clients, '#,##0')"/>
          <xsl:value-of select="substring(' clients', 1, 8 - number($clients = 1))"/></p>
      </header>
      <main>
        <div class="figures">
          <div class="figure"><span>Filter events</span><b><xsl:value-of select="format-number($events, '#,##0')"/></b></div>
          <div class="figure"><span>Clients</span><b><xsl:value-of select="format-number($clients, '#,##0')"/></b></div>
          <div class="figure"><span>Filter categories</span><b><xsl:value-of select="format-number(count($byFilter), '#,##0')"/></b></div>
          <div class="figure"><span>Most frequent</span><b><xsl:value-of select="$byFilter[1]/@label"/></b></div>
        </div>
        <div class="grid">
          <section>
            <h2>Events per filter category</h2>
            <xsl:call-template name="bar-chart">
              <xsl:with-param name="caption" select="'Filter events per category'"/>
              <xsl:with-param name="bars" select="$byFilter"/>
              <xsl:with-param name="unit" select="''"/>
              <xsl:with-param name="other" select="'other categories'"/>
              <xsl:with-param name="format" select="'#,##0'"/>
            </xsl:call-template>
          </section>
          <section>
            <h2>Events per client</h2>
            <xsl:call-template name="bar-chart">
              <xsl:with-param name="caption" select="'Filter events per client'"/>
              <xsl:with-param name="bars" select="$byClient"/>
              <xsl:with-param name="unit" select="''"/>
              <xsl:with-param name="other" select="'other clients'"/>
              <xsl:with-param name="format" select="'#,##0'"/>
            </xsl:call-template>
          </section>
        </div>
        <section>
          <h2>Clients</h2>
          <table>
            <thead><tr><th>Client address</th><th>User name</th><th class="n">Events</th></tr></thead>
            <tbody>
              <xsl:for-each select="$firstOfIp">
                <tr><td class="wrap"><xsl:value-of select="ip"/></td><td class="wrap"><xsl:value-of select="name"/></td><td class="n"><xsl:value-of select="format-number(count(key('by-ip', string(ip))), '#,##0')"/></td></tr>
              </xsl:for-each>
            </tbody>
          </table>
        </section>
        <section>
          <h2>Events</h2>
          <table class="events">
            <thead><tr><th class="n c1">#</th><th class="c2">Date</th><th class="c3">Time</th><th class="c4">Client</th><th class="c5">User</th><th>URL</th><th class="c7">Filter</th></tr></thead>
            <tbody>
              <xsl:for-each select="/log/data">
                <tr><td class="n"><xsl:value-of select="position()"/></td><td class="wrap"><xsl:value-of select="date"/></td><td class="wrap"><xsl:value-of select="time"/></td><td class="wrap"><xsl:value-of select="ip"/></td><td class="wrap"><xsl:value-of select="name"/></td><td class="wrap"><xsl:value-of select="url"/></td><td class="wrap"><xsl:value-of select="filter"/></td></tr>
              </xsl:for-each>
            </tbody>
            <tfoot><tr><td></td><td colspan="6">Total, <xsl:value-of select="format-number($events, '#,##0')"/>
              <xsl:value-of select="substring(' events', 1, 7 - number($events = 1))"/></td></tr></tfoot>
          </table>
        </section>
      </main>
    </body>
  </html>
</xsl:template>

<xsl:variable name="svg" select="'http://www.w3.org/2000/svg'"/>

<!-- Horizontal bars as the pages draw them: the largest entries, then one bar for the rest. -->
<xsl:template name="bar-chart">
  <xsl:param name="caption"/>
  <xsl:param name="bars"/>
  <xsl:param name="unit"/>
  <xsl:param name="other"/>
  <xsl:param name="format"/>
  <xsl:variable name="keep" select="$chartBars + number(count($bars) = $chartBars + 1)"/>
  <xsl:variable name="rows" select="count($bars[position() &lt;= $keep]) + number(count($bars) &gt; $keep)"/>
  <xsl:variable name="rest" select="sum($bars[position() &gt; $keep]/@value)"/>
  <xsl:variable name="most" select="$bars[1]/@value"/>
  <svg xmlns="http://www.w3.org/2000/svg" class="chart" viewBox="0 0 560 {$rows * 24 + 8}"
      width="560" height="{$rows * 24 + 8}" role="img" aria-label="{$caption}"
      font-family="Segoe UI, Roboto, Helvetica Neue, Arial, Liberation Sans, sans-serif">
    <title><xsl:value-of select="$caption"/></title>
    <xsl:for-each select="$bars[position() &lt;= $keep]">
      <xsl:call-template name="bar">
        <xsl:with-param name="row" select="position() - 1"/>
        <xsl:with-param name="label" select="string(@label)"/>
        <xsl:with-param name="value" select="number(@value)"/>
        <xsl:with-param name="most" select="$most"/>
        <xsl:with-param name="shown" select="concat(format-number(@value, $format), $unit)"/>
        <xsl:with-param name="fill" select="'#3d6fa8'"/>
      </xsl:call-template>
    </xsl:for-each>
    <xsl:if test="count($bars) &gt; $keep">
      <xsl:call-template name="bar">
        <xsl:with-param name="row" select="$keep"/>
        <xsl:with-param name="label" select="concat($other, ' (', count($bars) - $keep, ')')"/>
        <xsl:with-param name="value" select="$rest"/>
        <xsl:with-param name="most" select="$most"/>
        <xsl:with-param name="shown" select="concat(format-number($rest, $format), $unit)"/>
        <xsl:with-param name="fill" select="'#9aa5b1'"/>
      </xsl:call-template>
    </xsl:if>
  </svg>
</xsl:template>

<xsl:template name="bar">
  <xsl:param name="row"/>
  <xsl:param name="label"/>
  <xsl:param name="value"/>
  <xsl:param name="most"/>
  <xsl:param name="shown"/>
  <xsl:param name="fill"/>
  <xsl:variable name="top" select="4 + $row * 24"/>
  <xsl:variable name="scaled">
    <xsl:choose>
      <xsl:when test="$most &gt; 0 and $value &gt; 0">
        <xsl:value-of select="270 * $value div $most"/>
      </xsl:when>
      <xsl:otherwise>0</xsl:otherwise>
    </xsl:choose>
  </xsl:variable>
  <xsl:variable name="width">
    <xsl:choose>
      <xsl:when test="$value &gt; 0 and $scaled &lt; 1">1</xsl:when>
      <xsl:otherwise><xsl:value-of select="format-number($scaled, '0.0')"/></xsl:otherwise>
    </xsl:choose>
  </xsl:variable>
  <!-- Built with xsl:element: a literal SVG element in a called template gets a prefix from
       some processors, which an HTML parser does not understand. -->
  <xsl:element name="g" namespace="{$svg}">
    <xsl:element name="title" namespace="{$svg}"><xsl:value-of select="concat($label, ': ', $shown)"/></xsl:element>
    <xsl:element name="text" namespace="{$svg}">
      <xsl:attribute name="x">182</xsl:attribute>
      <xsl:attribute name="y"><xsl:value-of select="$top + 12.5"/></xsl:attribute>
      <xsl:attribute name="text-anchor">end</xsl:attribute>
      <xsl:attribute name="font-size">12</xsl:attribute>
      <xsl:attribute name="fill">#334e68</xsl:attribute>
      <xsl:value-of select="substring($label, 1, 30)"/>
      <xsl:if test="string-length($label) &gt; 30">&#8230;</xsl:if>
    </xsl:element>
    <xsl:element name="rect" namespace="{$svg}">
      <xsl:attribute name="x">190</xsl:attribute>
      <xsl:attribute name="y"><xsl:value-of select="$top"/></xsl:attribute>
      <xsl:attribute name="width"><xsl:value-of select="$width"/></xsl:attribute>
      <xsl:attribute name="height">16</xsl:attribute>
      <xsl:attribute name="rx">2</xsl:attribute>
      <xsl:attribute name="fill"><xsl:value-of select="$fill"/></xsl:attribute>
    </xsl:element>
    <xsl:element name="text" namespace="{$svg}">
      <xsl:attribute name="x"><xsl:value-of select="format-number(190 + $width + 6, '0.0')"/></xsl:attribute>
      <xsl:attribute name="y"><xsl:value-of select="$top + 12.5"/></xsl:attribute>
      <xsl:attribute name="font-size">12</xsl:attribute>
      <xsl:attribute name="fill">#1f2933</xsl:attribute>
      <xsl:value-of select="$shown"/>
    </xsl:element>
  </xsl:element>
</xsl:template>
</xsl:stylesheet>
